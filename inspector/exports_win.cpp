// The exported functions of Telvyn. Each builds its report into the calling
// thread's result buffer; no exception leaves them.
#include "telvyn.h"

#include "inspector/crashes_win.h"
#include "inspector/load_win.h"
#include "inspector/memory_win.h"
#include "inspector/result_text.h"
#include "inspector/snapshot_win.h"

using namespace mirrow::inspector;

extern "C" {

const char* WINAPI tl_snapshot(uint64_t* out_length) {
  return publish_report(out_length, [](std::string& out) { write_snapshot_report(out); });
}

const char* WINAPI tl_memory(uint64_t* out_length) {
  return publish_report(out_length, [](std::string& out) { write_memory_report(out, windows_memory_calls()); });
}

const char* WINAPI tl_load(uint64_t* out_length) {
  return publish_report(out_length, [](std::string& out) { write_load_report(out); });
}

const char* WINAPI tl_crashes(uint64_t* out_length) {
  return publish_report(out_length, [](std::string& out) { write_crash_report(out, windows_event_log_calls()); });
}

}  // extern "C"
