#include <windows.h>

#include "formats/base/owned_win.h"
#include "system/key.h"

bool ulp::WriteNewFile(const std::string& path, const std::string& bytes, bool,
                       std::string* error) {
  ul::Handle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    *error = "cannot create " + path + " (it may exist already)";
    return false;
  }
  DWORD written = 0;
  const bool ok = WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                            nullptr) &&
                  written == bytes.size();
  file.Reset();
  if (!ok) {
    *error = "cannot write " + path;
    DeleteFileA(path.c_str());
  }
  return ok;
}
