#pragma once
// Figures of the capture side that the reports show; written by the start
// and stop sequences while the reports read them on any host thread.
#include <atomic>
#include <cstdint>

namespace mirrow {

// One figure that a start or stop sequence writes while the reports read it
// on any host thread: each value is stored and loaded whole. Reads and
// writes look like those of a plain T.
template <typename T>
class SharedFigure {
 public:
  SharedFigure() noexcept = default;
  explicit SharedFigure(T value) noexcept : value_(value) {}
  SharedFigure(const SharedFigure& other) noexcept : value_(other.load()) {}
  SharedFigure& operator=(const SharedFigure& other) noexcept { return *this = other.load(); }
  SharedFigure& operator=(T value) noexcept {
    value_.store(value, std::memory_order_relaxed);
    return *this;
  }
  operator T() const noexcept { return load(); }
  T load() const noexcept { return value_.load(std::memory_order_relaxed); }

 private:
  std::atomic<T> value_{};
};

struct StartupFigures {
  StartupFigures() = default;
  StartupFigures(std::uint32_t names_status, std::uint32_t state_status, bool names_enabled,
                 std::uint64_t name_losses, double name_seconds, std::uint64_t events, std::uint64_t buffers)
      : names_session_status(names_status), capture_state_status(state_status),
        system_names_enabled(names_enabled), startup_name_losses(name_losses), startup_name_seconds(name_seconds),
        events_lost(events), buffers_lost(buffers) {}

  SharedFigure<std::uint32_t> names_session_status;
  SharedFigure<std::uint32_t> capture_state_status;
  SharedFigure<bool> system_names_enabled;
  SharedFigure<std::uint64_t> startup_name_losses;
  SharedFigure<double> startup_name_seconds;
  SharedFigure<std::uint64_t> events_lost;
  SharedFigure<std::uint64_t> buffers_lost;
};

}  // namespace mirrow
