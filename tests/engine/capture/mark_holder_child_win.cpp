// Helper process for the sweep tests: makes the named mutex given as its one
// argument and holds it until it is killed, standing in for an engine in
// another process that owns a trace session.
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) return 2;
  if (CreateMutexW(nullptr, FALSE, argv[1]) == nullptr) return 3;
  Sleep(INFINITE);
  return 0;
}
