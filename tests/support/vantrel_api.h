#pragma once
// Vantrel.dll loaded once per test program, and one engine of it for the
// length of a test.
#include "support/library_api_win.h"
#include "vantrel.h"

namespace mirrow::testing {

// The library loaded once per test program.
inline VantrelApi& vantrel() {
  static VantrelApi api;
  return api;
}

// One engine for the length of a test, destroyed as a host would.
class Engine {
 public:
  Engine() : handle_(vantrel().vt_create()) {}
  ~Engine() { vantrel().vt_destroy(handle_); }
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;
  vt_engine* get() const { return handle_; }
  operator vt_engine*() const { return handle_; }

 private:
  vt_engine* handle_;
};

}  // namespace mirrow::testing
