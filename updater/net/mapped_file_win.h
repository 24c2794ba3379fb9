// A whole file mapped into the process's memory, for a patch applied with
// bounded memory (patched_download_win.h): the installed copy it is made
// from, read through its view, and the new file, written through its view.
// The system brings in and writes out the pages; the process keeps no copy.
//
// A read or write through a view that the disk fails raises
// EXCEPTION_IN_PAGE_ERROR, and this build has no structured exception
// handling to catch it. So a file is mapped only while it is held with
// sharing for readers alone (nobody can cut it under the view), and a new
// file is given its whole size on disk before it is mapped (the view never
// writes beyond what the drive has allocated).
#pragma once

#include <windows.h>

#include <cstdint>

#include "formats/base/owned_win.h"

namespace ul {

class MappedFile {
 public:
  // The file at path for reading, shared with readers only. False with
  // the system's error in error().
  bool OpenRead(const char* path);
  // A new file of size bytes at path (whatever stood under the name is
  // removed first; when it cannot be, this fails), for reading and
  // writing, shared with nobody.
  bool Create(const char* path, uint64_t size);

  const unsigned char* data() const { return static_cast<const unsigned char*>(view_.Get()); }
  unsigned char* writable() { return static_cast<unsigned char*>(view_.Get()); }
  uint64_t size() const { return size_; }
  DWORD error() const { return error_; }
  // Unmaps the view and closes the file.
  void Close();

 private:
  bool Map(bool write);

  Handle file_;
  Handle mapping_;
  MappedView view_;
  uint64_t size_ = 0;
  DWORD error_ = 0;
};

}  // namespace ul
