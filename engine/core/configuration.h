#pragma once
// What the host configures: roots, exclusions, missing paths and the probe.
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/core/result_codes.h"

namespace mirrow {

struct EngineCore;

// 87 while running, for an id below 1 or a null path.
std::uint32_t add_root(EngineCore& engine, std::int64_t id, const char16_t* path, bool flag);
// 87 while running or for a null path.
std::uint32_t add_exclusion(EngineCore& engine, const char16_t* path);
// Open-failure tracking for replays; 87 while running.
std::uint32_t set_missing_open_tracking(EngineCore& engine, bool on);
void add_missing(EngineCore& engine, const char16_t* path);
void clear_missing(EngineCore& engine);
// Null clears the probe; any call clears probe_seen.
void set_probe(EngineCore& engine, const char16_t* path);

// Classification order for a run; also forgets cached results.
void prepare_roots_for_start(EngineCore& engine);

// Root id of a normalised path, 0 when it is not reported.
std::int64_t classify_path(EngineCore& engine, std::u16string_view path);

struct Name;

// classify_path for an interned name, remembered on the name until the
// configuration changes.
std::int64_t classify_name(EngineCore& engine, const Name& name);

bool is_missing(EngineCore& engine, std::u16string_view path);

}  // namespace mirrow
