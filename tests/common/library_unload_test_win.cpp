// A host may unload either library while threads that called it live on.
// Each library keeps per-thread text, so such a thread's later exit must not
// run anything inside the unloaded library.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>

#include "support/products_win.h"

namespace {

using tl_report_fn = const char*(WINAPI*)(std::uint64_t*);
using vt_create_fn = void*(WINAPI*)();
using vt_start_fn = std::uint32_t(WINAPI*)(void*, std::int32_t, std::int32_t);
using vt_error_fn = const char*(WINAPI*)();  // cast through void* below
using vt_destroy_fn = void(WINAPI*)(void*);

struct ThreadWork {
  HMODULE telvyn = nullptr;
  HMODULE vantrel = nullptr;
  HANDLE called = nullptr;   // set once the thread has used both libraries
  HANDLE unloaded = nullptr; // set once the test has unloaded them
  bool used = false;
};

DWORD WINAPI use_both_then_wait(void* parameter) {
  auto& work = *static_cast<ThreadWork*>(parameter);
  auto memory = reinterpret_cast<tl_report_fn>(reinterpret_cast<void*>(GetProcAddress(work.telvyn, "tl_memory")));
  auto create = reinterpret_cast<vt_create_fn>(reinterpret_cast<void*>(GetProcAddress(work.vantrel, "vt_create")));
  auto start = reinterpret_cast<vt_start_fn>(reinterpret_cast<void*>(GetProcAddress(work.vantrel, "vt_start")));
  auto error = reinterpret_cast<vt_error_fn>(reinterpret_cast<void*>(GetProcAddress(work.vantrel, "vt_error")));
  auto destroy = reinterpret_cast<vt_destroy_fn>(reinterpret_cast<void*>(GetProcAddress(work.vantrel, "vt_destroy")));
  if (memory && create && start && error && destroy) {
    std::uint64_t length = 0;
    const char* report = memory(&length);
    void* engine = create();
    start(engine, 0, 0);
    const char* text = error();
    destroy(engine);
    work.used = report != nullptr && length > 0 && text != nullptr;
  }
  SetEvent(work.called);
  WaitForSingleObject(work.unloaded, 10000);
  return 0;  // the thread ends after both libraries are gone
}

TEST(LibraryUnload, a_thread_that_used_both_libraries_ends_cleanly_after_they_are_unloaded) {
  for (int round = 0; round < 3; ++round) {
    ThreadWork work;
    work.telvyn = LoadLibraryW(mirrow::testing::telvyn_dll_path().c_str());
    work.vantrel = LoadLibraryW(mirrow::testing::vantrel_dll_path().c_str());
    ASSERT_NE(work.telvyn, nullptr);
    ASSERT_NE(work.vantrel, nullptr);
    work.called = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    work.unloaded = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread = CreateThread(nullptr, 0, &use_both_then_wait, &work, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(WaitForSingleObject(work.called, 20000), WAIT_OBJECT_0);
    EXPECT_TRUE(work.used);
    EXPECT_TRUE(FreeLibrary(work.vantrel));
    EXPECT_TRUE(FreeLibrary(work.telvyn));
    SetEvent(work.unloaded);
    ASSERT_EQ(WaitForSingleObject(thread, 20000), WAIT_OBJECT_0);
    DWORD code = 1;
    GetExitCodeThread(thread, &code);
    EXPECT_EQ(code, 0u);
    CloseHandle(thread);
    CloseHandle(work.called);
    CloseHandle(work.unloaded);
  }
}

}  // namespace
