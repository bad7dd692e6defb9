#include "inspector/load_report.h"

#include <algorithm>

#include "common/json_writer.h"

namespace mirrow::inspector {

std::optional<double> take_load_sample(LoadSample& sample, std::uint64_t idle, std::uint64_t total) {
  std::optional<double> load;
  if (sample.prev_total != 0 && total > sample.prev_total && idle >= sample.prev_idle) {
    const double idle_share = static_cast<double>(idle - sample.prev_idle) / static_cast<double>(total - sample.prev_total);
    load = std::clamp((1.0 - idle_share) * 100.0, 0.0, 100.0);
  }
  sample.prev_idle = idle;
  sample.prev_total = total;
  return load;
}

void append_load_report(std::string& out, std::optional<double> load, const std::vector<std::u16string>& names) {
  JsonWriter json(out);
  json.begin_object().key("cpu");
  if (load) json.g6(*load);
  else json.null();
  json.key("names").begin_array();
  for (const std::u16string& name : names) json.text(name);
  json.end_array().end_object();
}

}  // namespace mirrow::inspector
