// testbed_crashme: a client that crashes, for the crash report service's
// symbols. "crashme VERSION UID" installs the test bed's crash handler
// (its log goes to the Log folder beside the program, as the client's
// does) and writes through a null pointer three calls deep, so the log
// holds a fault in CrashHere and a stack through LoadLevel and RunGame.
//
// Built with CRASHME_SHIFT, the program carries more code before those
// functions: the same fault then lies at other offsets, as in a client's
// next build.
#include <windows.h>

#include <cstring>

#include "crash_handler.h"

namespace {

// Volatile, so that the compiler cannot see that it stays null.
int* volatile g_target = nullptr;

#ifdef CRASHME_SHIFT
__attribute__((noinline)) int Shift(int n) {
  int sum = 0;
  for (int i = 0; i < n; ++i) sum += (i * 7919) ^ (sum >> 3) ^ (n * 31);
  return sum + n * CRASHME_SHIFT;
}
#endif

__attribute__((noinline)) void CrashHere(int level) {
  *g_target = level;  // the fault
}

__attribute__((noinline)) void LoadLevel(int level) {
  CrashHere(level + 1);
  OutputDebugStringA("level loaded");
}

__attribute__((noinline)) int RunGame(int levels) {
  for (int i = 0; i < levels; ++i) LoadLevel(i);
  return levels;
}

}  // namespace

// The handler keeps a pointer to this for the process's whole run. Plain
// characters: built with clang against the GCC-built C++ library (for a
// PDB), a library member that returns a string by value does not survive
// the two compilers' different conventions.
char g_folder[MAX_PATH + 4];

int main(int argc, char** argv) {
  const DWORD n = GetModuleFileNameA(nullptr, g_folder, MAX_PATH);
  char* slash = std::strrchr(g_folder, '\\');
  std::strcpy(slash != nullptr && n > 0 ? slash + 1 : g_folder, "Log");
  tbw::InstallCrashHandler(argc > 1 ? argv[1] : "1000", g_folder, argc > 2 ? argv[2] : "crashme");
#ifdef CRASHME_SHIFT
  if (Shift(argc) == 12345) return 3;
#endif
  return RunGame(argc + 1);
}
