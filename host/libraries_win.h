#pragma once
// Vantrel.dll and Telvyn.dll, loaded from mirrowctl's own folder with every
// export bound by name: the types come from the public headers, nothing is
// linked.
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <string>
#include <vector>

#include "common/unique_handle.h"
#include "host/activity_lines.h"
#include "host/drain_rounds.h"
#include "host/engine_health.h"
#include "telvyn.h"
#include "vantrel.h"

namespace mirrow::host {

struct VantrelLibrary {
  UniqueModule module;
#define HOST_EXPORT(name) decltype(&::name) name = nullptr;
#include "host/vantrel_exports.inc"
#undef HOST_EXPORT
};

struct TelvynLibrary {
  UniqueModule module;
#define HOST_EXPORT(name) decltype(&::name) name = nullptr;
#include "host/telvyn_exports.inc"
#undef HOST_EXPORT
};

// The library with every export bound, or null with `problem` saying what is
// missing (UTF-8, one sentence).
std::unique_ptr<VantrelLibrary> load_vantrel(std::string& problem);
std::unique_ptr<TelvynLibrary> load_telvyn(std::string& problem);

// Drains batch after batch for as long as the round asks for another; each
// batch that holds records goes to `take`, as the library gave it and parsed.
template <typename Take>
void drain_round(const VantrelLibrary& vantrel, vt_engine* engine, DrainRound round, Take&& take) {
  for (;;) {
    std::uint64_t length = 0;
    const char* text = vantrel.vt_drain(engine, &length);
    const auto parsed = text == nullptr ? std::nullopt : parse_drain(std::string_view(text, length));
    if (parsed && !parsed->records.empty()) take(std::string_view(text, length), *parsed);
    const std::uint64_t entries = parsed ? parsed->records.size() + parsed->malformed : 0;
    if (!round.another_after(parsed.has_value(), entries)) return;
  }
}

// The interface version (vt_abi) of the Vantrel.dll beside mirrowctl, bound
// alone so that a library of another version still answers; nothing with
// `problem` set when it cannot be asked.
std::optional<std::uint32_t> vantrel_interface(std::string& problem);

// The engine's statistics slots (zeros when vt_stats fails) and its
// diagnostics document (empty when there is none).
Statistics engine_statistics(const VantrelLibrary& vantrel, vt_engine* engine);
std::string engine_diagnostics(const VantrelLibrary& vantrel, vt_engine* engine);

// Each path made absolute and excluded, in the order given; empty, or the
// first refusal as a message.
std::string exclude_all(const VantrelLibrary& vantrel, vt_engine* engine, const std::vector<std::u16string>& paths);

}  // namespace mirrow::host
