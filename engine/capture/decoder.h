#pragma once
// Decoding of kernel file events into bindings and activity.
namespace mirrow {

// Opens of watched missing paths waiting for their completion event.
struct PendingOpens {};

}  // namespace mirrow
