#pragma once
// Where the parts that observe files hand each finished activity: the
// decoder for attributed events, the watchers for change records. The
// engine that composes the parts points it at the activity part, which
// classifies, groups and queues the activity; the observers never see how.
#include <cstdint>

#include "engine/core/names.h"

namespace mirrow {

class ActivitySink {
 public:
  // count events of kind on name by process pid, from first to last (0.0:
  // last equals first); second is the new path of a watcher rename, else
  // null. Nothing happens for an empty name.
  virtual void record(const NameRef& name, std::uint32_t kind, std::uint32_t pid, double first,
                      const NameRef& second, std::uint64_t count, double last) = 0;

 protected:
  ~ActivitySink() = default;
};

}  // namespace mirrow
