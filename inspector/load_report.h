#pragma once
// The CPU load between two samples of the system times, and the text of the
// load report: {"cpu":<load or null>,"names":[<one name per process>]}.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace mirrow::inspector {

// The previous sample of the system times, in 100-ns units; both 0 before
// the first sample.
struct LoadSample {
  std::uint64_t prev_idle = 0;
  std::uint64_t prev_total = 0;  // kernel + user; the kernel time includes the idle time
};

// Takes a new sample and returns the load in percent since the previous one,
// clamped to 0..100; nullopt for the first sample, when no time passed or
// when the idle counter went backwards. The new sample always replaces the
// old one.
std::optional<double> take_load_sample(LoadSample& sample, std::uint64_t idle, std::uint64_t total);

// The whole report; the load with six significant digits like printf's %g.
void append_load_report(std::string& out, std::optional<double> load, const std::vector<std::u16string>& names);

}  // namespace mirrow::inspector
