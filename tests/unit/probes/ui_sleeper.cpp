// A process that only waits: the process-list tests start copies of it
// under names of their choosing.
#include <windows.h>

#include <cstdlib>

int main(int argc, char** argv) {
  Sleep(argc > 1 ? static_cast<DWORD>(std::atoi(argv[1])) : 20000);
  return 0;
}
