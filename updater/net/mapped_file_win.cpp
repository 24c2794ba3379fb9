#include "net/mapped_file_win.h"

namespace ul {

bool MappedFile::OpenRead(const char* path) {
  Close();
  file_.Reset(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size;
  if (!file_ || !GetFileSizeEx(file_.Get(), &size)) {
    error_ = GetLastError();
    Close();
    return false;
  }
  size_ = static_cast<uint64_t>(size.QuadPart);
  return Map(false);
}

bool MappedFile::Create(const char* path, uint64_t size) {
  Close();
  if (!DeleteFileA(path) && GetLastError() != ERROR_FILE_NOT_FOUND) {
    error_ = GetLastError();
    return false;
  }
  file_.Reset(CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(size);
  // The whole size on disk first: a drive that cannot hold it says so here.
  if (!file_ || !SetFilePointerEx(file_.Get(), at, nullptr, FILE_BEGIN) || !SetEndOfFile(file_.Get())) {
    error_ = GetLastError();
    Close();
    return false;
  }
  size_ = size;
  return Map(true);
}

bool MappedFile::Map(bool write) {
  // An empty file has nothing to map; a view of more than the address
  // space cannot be.
  if (size_ == 0 || size_ > 0x7fffffffu) {
    error_ = ERROR_INVALID_PARAMETER;
    Close();
    return false;
  }
  mapping_.Reset(CreateFileMappingA(file_.Get(), nullptr, write ? PAGE_READWRITE : PAGE_READONLY, 0, 0, nullptr));
  if (mapping_)
    view_.Reset(MapViewOfFile(mapping_.Get(), write ? FILE_MAP_WRITE : FILE_MAP_READ, 0, 0,
                              static_cast<SIZE_T>(size_)));
  if (!view_) {
    error_ = GetLastError();
    Close();
    return false;
  }
  return true;
}

void MappedFile::Close() {
  view_.Reset();
  mapping_.Reset();
  file_.Reset();
  size_ = 0;
}

}  // namespace ul
