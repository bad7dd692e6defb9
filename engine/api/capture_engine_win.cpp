#include "engine/api/capture_engine_win.h"

#include <new>
#include <string>

#include "engine/api/configuration.h"
#include "engine/api/engine_win.h"
#include "engine/api/native_engine.h"
#include "engine/capture/trace_session_win.h"

namespace mirrow {

void CaptureEngine::Destroy::operator()(Engine* engine) const noexcept { destroy_engine(engine); }

CaptureEngine::CaptureEngine() : engine_(create_engine()) {
  if (!engine_) throw std::bad_alloc();
}

CaptureEngine::~CaptureEngine() = default;

std::uint32_t CaptureEngine::add_root(std::int64_t id, std::u16string_view path, bool recursive) {
  return mirrow::add_root(*engine_, id, std::u16string(path).c_str(), recursive);
}

std::uint32_t CaptureEngine::start_capture(const TraceCalls& calls) {
  engine_->capture.calls = &calls;
  prepare_roots_for_start(engine_->root_set);
  return start_trace_sessions(engine_->capture, capture_links(*engine_));
}

void CaptureEngine::stop() noexcept { stop_sequence(*engine_); }

std::uint64_t CaptureEngine::counter(std::string_view key) const { return counter_by_key(*engine_, key); }

}  // namespace mirrow
