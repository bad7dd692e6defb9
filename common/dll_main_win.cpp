// The entry point of both libraries: a thread that ends takes its kept text
// with it, so the table holds only threads that still live.
#include <windows.h>

#include "common/thread_texts.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_THREAD_DETACH) mirrow::forget_this_thread_text();
  return TRUE;
}
