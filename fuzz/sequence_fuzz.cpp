// Drives one engine, through its native entry only, with a whole sequence
// of host and kernel steps per input (see sequence_script.h): creates, name
// creates and deletes, reads and writes, closes, renames, deletes,
// operation ends, classic names, drains, vt_test_recovery, stops and
// starts with roots, exclusions, missing paths and the probe changed
// between them, the clock moving on and the event count pushed to the
// next prune or recovery. The engine is built with small caps
// (engine/core/caps.h), so that every full-map path comes within a short
// input.
//
// After every step the fuzzer checks what holds whatever the sequence:
//   - every drained batch is well-formed JSON of the drain format, and each
//     record's path is normalised, inside a root of its root id and outside
//     every exclusion that was in force while the record could be made;
//   - the counts drained so far add up to at most the events and emits fed
//     that can make activity;
//   - `events` equals the events fed, and no counter goes down but the
//     gauge pending_names (the engine resets none: neither start nor stop
//     touches a counter);
//   - every capped container is within its cap, the names' charge within
//     the budget;
//   - once the engine is destroyed, no name holds the budget any more and
//     its charge is 0 (the block pool then goes with the budget; the leak
//     checker sees that no block is lost).
// And it compares the engine with a reference model (sequence_model.h):
// every counter, the sizes of the binding maps, the pending reads and
// writes, the pending opens and the groups after every step, and every
// drained batch record by record.
//
// The model has no caps, so it describes the engine only while no cap was
// reached. Rather than a second engine with the default caps, the fuzzer
// watches for the first effect of a cap and compares only up to it: a
// binding eviction (mapping_evictions), a full pending map
// (pending_limit), a refused name or group (dropped), a name table or a
// pending-opens map that reached its cap (a later step may empty it). So one
// build covers both the full-map paths, under the invariants, and the
// exact behaviour, under the model, for every input that stays below the
// caps; and the caps are small enough that the fuzzer crosses them often.
//
// With SEQUENCE_FUZZ_FIGURES set, the fuzzer prints at its exit how many
// inputs reached each cap and how many steps, drains and records the model
// checked. Seeds: fuzz/corpus/make_sequence_seeds.py.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "fuzz/sequence_run.h"
#include "fuzz/sequence_script.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (std::getenv("SEQUENCE_FUZZ_FIGURES") != nullptr) std::atexit(mirrow::fuzz::print_sequence_figures);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  mirrow::fuzz::run_sequence(mirrow::fuzz::read_script(data, size));
  return 0;
}
