// A file read and written at 64-bit offsets, so that files beyond 4 GiB work
// in this 32-bit process: the installed copy a new file is made from, and
// the partial file it is made in.
#pragma once

#include <windows.h>

#include <winioctl.h>

#include <cstdint>
#include <cstring>

#include "formats/base/owned_win.h"

namespace ul {

class OffsetFile {
 public:
  // write: opened (made when missing) for reading and writing, shared with
  // readers only; else for reading, shared with readers only, so the bytes
  // cannot change while they are copied. False with the system's error in
  // error().
  bool Open(const char* path, bool write) {
    handle_.Reset(CreateFileA(path, write ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ, FILE_SHARE_READ,
                              nullptr, write ? OPEN_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    error_ = handle_ ? 0 : GetLastError();
    return static_cast<bool>(handle_);
  }
  // Made new for reading and writing, shared with readers only: whatever
  // stood under the name is removed first, and when it cannot be (or is
  // back before the file is made) this fails, so that nothing planted under
  // the name (a link to another file) is ever written into.
  bool Create(const char* path) {
    handle_.Reset();
    if (!DeleteFileA(path) && GetLastError() != ERROR_FILE_NOT_FOUND) {
      error_ = GetLastError();
      return false;
    }
    handle_.Reset(CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
    error_ = handle_ ? 0 : GetLastError();
    return static_cast<bool>(handle_);
  }
  void Close() { handle_.Reset(); }
  DWORD error() const { return error_; }

  bool Size(uint64_t* size) const {
    LARGE_INTEGER s;
    if (!GetFileSizeEx(handle_.Get(), &s)) return false;
    *size = static_cast<uint64_t>(s.QuadPart);
    return true;
  }
  // How many names the file has; 0 when the system does not say.
  DWORD Links() const {
    BY_HANDLE_FILE_INFORMATION info;
    return GetFileInformationByHandle(handle_.Get(), &info) ? info.nNumberOfLinks : 0;
  }
  // Asks the file system to leave out the ranges never written. Where it
  // cannot (FAT), the file is whole as ever.
  void MakeSparse() {
    DWORD returned = 0;
    DeviceIoControl(handle_.Get(), FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr);
  }
  bool SetSize(uint64_t size) {
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(size);
    return SetFilePointerEx(handle_.Get(), at, nullptr, FILE_BEGIN) && SetEndOfFile(handle_.Get());
  }
  bool ReadAt(uint64_t offset, void* data, uint32_t n) {
    char* p = static_cast<char*>(data);
    while (n > 0) {
      OVERLAPPED at = Where(offset);
      DWORD got = 0;
      if (!ReadFile(handle_.Get(), p, n, &got, &at) || got == 0) return false;
      p += got;
      offset += got;
      n -= got;
    }
    return true;
  }
  bool WriteAt(uint64_t offset, const void* data, uint32_t n) {
    const char* p = static_cast<const char*>(data);
    while (n > 0) {
      OVERLAPPED at = Where(offset);
      DWORD put = 0;
      if (!WriteFile(handle_.Get(), p, n, &put, &at) || put == 0) return false;
      p += put;
      offset += put;
      n -= put;
    }
    return true;
  }

 private:
  static OVERLAPPED Where(uint64_t offset) {
    OVERLAPPED at;
    std::memset(&at, 0, sizeof at);
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return at;
  }

  Handle handle_;
  DWORD error_ = 0;
};

}  // namespace ul
