#pragma once
// The narrow entry's Windows half: an engine whose trace sessions run
// through a table of tracing calls the caller hands in, so that a program
// (the intake benchmark) can deliver records through the real capture
// callback without live tracing. The table of calls is the one seam this
// entry shows; the engine itself stays out of view.
#include <cstdint>
#include <memory>
#include <string_view>

#include "engine/capture/trace_calls_win.h"

namespace mirrow {

struct Engine;

class CaptureEngine {
 public:
  // Throws std::bad_alloc when the engine cannot be made.
  CaptureEngine();
  ~CaptureEngine();
  CaptureEngine(const CaptureEngine&) = delete;
  CaptureEngine& operator=(const CaptureEngine&) = delete;

  // 0, or 87 for an id below 1.
  std::uint32_t add_root(std::int64_t id, std::u16string_view path, bool recursive);
  // Starts the trace sessions alone through calls, which must outlive the
  // engine's run; the roots' directories need not exist. 0 or the failing
  // call's status.
  std::uint32_t start_capture(const TraceCalls& calls);
  // The whole stop sequence; safe when repeated.
  void stop() noexcept;
  // A counter by its vt_stats or vt_diagnostics key, as NativeEngine::counter.
  std::uint64_t counter(std::string_view key) const;

 private:
  struct Destroy {
    void operator()(Engine* engine) const noexcept;
  };
  std::unique_ptr<Engine, Destroy> engine_;
};

}  // namespace mirrow
