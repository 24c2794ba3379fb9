#include "common/program_name_win.h"

#include <windows.h>

#include <cstring>

void ProgramName(char (&out)[ul::kPathCap]) {
  char module[ul::kPathCap] = {0};
  GetModuleFileNameA(nullptr, module, sizeof(module) - 1);
  const char* base = module;
  for (const char* p = module; *p; ++p) {
    if (*p == '\\' || *p == '/') base = p + 1;
  }
  ul::Copy(out, base);
  char* dot = std::strrchr(out, '.');
  if (dot != nullptr) *dot = '\0';
}
