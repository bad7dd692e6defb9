#pragma once
// Every cap on a container of the engine that grows with the observed
// system, in one place. The parts name these values where they define their
// own limits, so the hot paths still compare with a compile-time constant.
//
// A build with MIRROW_SMALL_CAPS gets small caps instead: the sequence
// fuzzer's copy of the engine, in which every full-map path (batch
// eviction, a full pending map, an emptied name table, a refused name, a
// refused group, a drain cut short) comes within a few hundred events.
// Nothing may assume a cap's size beyond its value: a batch eviction takes
// a tenth of whatever the binding cap is.
#include <cstddef>
#include <cstdint>

namespace mirrow::caps {

#ifndef MIRROW_SMALL_CAPS

// Entries of each of the four binding maps.
inline constexpr std::size_t binding_map_cap = 100000;
// Reads and writes waiting for a name.
inline constexpr std::size_t pending_io_cap = 4096;
// Opens of watched missing paths waiting for their operation end.
inline constexpr std::size_t pending_open_cap = 20000;
// Entries of the name table before it is emptied whole.
inline constexpr std::size_t name_table_capacity = 65536;
// Bytes of path text all live names may charge.
inline constexpr std::uint64_t name_budget_limit = 33554432;  // 32 MiB
// Activity groups, open and ready together.
inline constexpr std::size_t group_cap = 20000;
// One drain hands out at most this many groups, of about this much text.
inline constexpr std::size_t drain_batch_groups = 1024;
inline constexpr std::size_t drain_batch_bytes = 1048576;
// Not a cap but a fixed memory: the slots of the recent raw names, a power
// of two. Few in the small build, so that raw paths share slots and push
// each other out.
inline constexpr std::size_t recent_name_slots = 4096;
// Not caps either but intervals, in events: how often bindings are pruned
// (and the name budget relieved) and how often waiting reads and writes are
// looked at again while names are pending. Short in the small build, so
// that a few dozen events reach both.
inline constexpr std::uint64_t prune_every_events = 4096;
inline constexpr std::uint64_t recover_every_events = 1024;

#else

inline constexpr std::size_t binding_map_cap = 32;
inline constexpr std::size_t pending_io_cap = 16;
inline constexpr std::size_t pending_open_cap = 8;
// Below the budget's worth of short names, so that the table empties
// before the budget refuses; long paths fill the budget first.
inline constexpr std::size_t name_table_capacity = 48;
inline constexpr std::uint64_t name_budget_limit = 8192;
inline constexpr std::size_t group_cap = 32;
inline constexpr std::size_t drain_batch_groups = 8;
inline constexpr std::size_t drain_batch_bytes = 4096;
inline constexpr std::size_t recent_name_slots = 8;
inline constexpr std::uint64_t prune_every_events = 64;
inline constexpr std::uint64_t recover_every_events = 16;

#endif

// A full binding map gives up its oldest tenth at once.
inline constexpr std::size_t binding_eviction_batch = binding_map_cap / 10;

static_assert(binding_eviction_batch >= 1, "a full binding map must give up at least one entry");
static_assert(drain_batch_groups >= 1, "a drain hands out at least one group");

}  // namespace mirrow::caps
