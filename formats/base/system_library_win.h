// A system library, loaded from the system folder only: a DLL of the same
// name beside the program (in the client folder, which downloads write to)
// must never be the one loaded.
#pragma once

#include <windows.h>

#include "formats/base/bounded.h"
#include "formats/base/owned_win.h"

namespace ul {

// The library file (say "bcrypt.dll") from the system folder; an empty
// owner when it cannot be loaded.
inline Module LoadSystemLibrary(const char* file) {
  char path[kPathCap];
  const UINT n = GetSystemDirectoryA(path, sizeof path);
  if (n == 0 || n >= sizeof path) return Module();
  Append(path, "\\");
  Append(path, file);
  return Module(LoadLibraryA(path));
}

}  // namespace ul
