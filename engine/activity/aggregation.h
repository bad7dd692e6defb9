#pragma once
// Activity groups per path, process, kind and five-second window, and the
// ready queue that vt_drain empties.
namespace mirrow {

struct ActivityStore {};

}  // namespace mirrow
