#pragma once
// What the host configures that decoding on another thread may read: the
// roots, the exclusions and the tracking of missing opens. Each changes only
// while the engine is stopped, under the replay lock, and is refused (87)
// while it runs. The missing paths and the probe may change at any time and
// are set on their parts directly (capture/missing_paths.h,
// activity/probe.h).
#include <cstdint>

#include "engine/core/result_codes.h"

namespace mirrow {

struct EngineCore;

// 87 while running, for an id below 1 or a null path.
std::uint32_t add_root(EngineCore& engine, std::int64_t id, const char16_t* path, bool flag);
// 87 while running or for a null path.
std::uint32_t add_exclusion(EngineCore& engine, const char16_t* path);
// Open-failure tracking for replays; 87 while running.
std::uint32_t set_missing_open_tracking(EngineCore& engine, bool on);

}  // namespace mirrow
