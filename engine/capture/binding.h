#pragma once
// Binding of file objects and file keys to names, and the reads and writes
// waiting for a name.
namespace mirrow {

struct EngineCore;

// The four binding maps, the pending reads and writes with their lock and
// the ring of unattributed samples.
struct BindingState {};

// Stop sequence: attribute what a forced recovery can, then turn every read
// or write still unnamed into an unknown sample.
void finish_pending_at_stop(EngineCore& engine);

}  // namespace mirrow
