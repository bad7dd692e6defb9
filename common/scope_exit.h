#pragma once
// Runs a cleanup when the scope ends, for the rare cleanup that is not a handle.
#include <utility>

namespace mirrow {

template <typename F>
class ScopeExit {
 public:
  explicit ScopeExit(F f) : f_(std::move(f)) {}
  ~ScopeExit() { if (armed_) f_(); }
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;
  void release() { armed_ = false; }

 private:
  F f_;
  bool armed_ = true;
};

template <typename F>
ScopeExit<F> scope_exit(F f) { return ScopeExit<F>(std::move(f)); }

}  // namespace mirrow
