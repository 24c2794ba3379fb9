#include "system/mapped_file.h"

#include <windows.h>

#include "formats/base/owned_win.h"

namespace ulp {

MappedFile::~MappedFile() { Close(); }

void MappedFile::Close() {
  if (data_ != nullptr) UnmapViewOfFile(data_);
  if (mapping_ != nullptr) CloseHandle(mapping_);
  data_ = nullptr;
  mapping_ = nullptr;
  size_ = 0;
}

bool MappedFile::Open(const std::filesystem::path& path) {
  Close();
  // Shared with readers only while it is mapped: a writer could cut it
  // under the view, and a read of the missing part would end the program.
  ul::Handle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size;
  if (!file || !GetFileSizeEx(file.Get(), &size) || size.QuadPart <= 0 ||
      static_cast<unsigned long long>(size.QuadPart) > static_cast<std::size_t>(-1))
    return false;
  mapping_ = CreateFileMappingW(file.Get(), nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (mapping_ == nullptr) return false;
  data_ = static_cast<const unsigned char*>(MapViewOfFile(mapping_, FILE_MAP_READ, 0, 0, 0));
  if (data_ == nullptr) {
    Close();
    return false;
  }
  size_ = static_cast<std::size_t>(size.QuadPart);
  return true;
}

}  // namespace ulp
