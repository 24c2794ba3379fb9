// Files that a run checks and then uses, and the partial file a download
// writes. In the shared Windows Temp folder another user may have made a
// name first, with an access list of their own, and keep a handle to it;
// these two classes make sure that what was checked is what is used:
//
//   PartialFile part;                      // "<target>~dl", created new
//   part.Create(partialPath, true);        // an existing name is removed first,
//   part.Write(bytes, n); ...              // and one that cannot be is a failure
//   part.Finish(targetPath);               // closed and renamed over the target
//
//   HeldFile held;
//   held.Open(targetPath);                 // read only; nobody may write, rename
//   held.Sha256(digest, &size);            // or delete it from here on
//   FILE* f = held.TextStream(); ...       // read through the same file object
//   CreateProcessA(targetPath, ...);       // or started by its name while held
//   held.Close();
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "formats/base/bounded.h"
#include "formats/base/owned_win.h"
#include "formats/trust/release_manifest.h"

namespace ul {

// A file held open for reading only, shared only with readers: while it is
// held, no one can open it for writing, rename it or delete it, so its bytes
// and its name stay what they were when it was opened. Windows still starts
// a program from it by its name.
class HeldFile {
 public:
  HeldFile() = default;
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;

  // False when the file is missing, or someone holds it open for writing or
  // deleting (then it cannot be held without sharing that).
  bool Open(const char* path);
  void Close();
  bool IsOpen() const { return handle_.Valid(); }
  const char* Path() const { return path_; }

  // Size and SHA-256 of the whole file, read from its start through the
  // held handle.
  bool Sha256(uint8_t (&digest)[kSha256Bytes], uint64_t* size);
  // The whole file (false when it is longer than limit).
  bool ReadAll(std::size_t limit, std::string* bytes);
  // A text-mode stream over the held file from its start, as fopen "rt"
  // would give it; the caller fcloses it, which leaves the file held. Null
  // when none can be made.
  std::FILE* TextStream();

 private:
  bool Rewind();

  Handle handle_;
  char path_[kTextCap] = {0};
};

// The file a download writes before it takes its final name.
class PartialFile {
 public:
  PartialFile() = default;
  ~PartialFile() { Discard(); }
  PartialFile(const PartialFile&) = delete;
  PartialFile& operator=(const PartialFile&) = delete;

  // createNew: the file must be this download's own. A file of that name
  // is removed first; when it cannot be removed (someone else's, held open
  // by someone) or is back before it is created, the creation fails. Else
  // an existing file is truncated and written over, as "wb" does.
  bool Create(const char* path, bool createNew);
  // Buffered; false when the bytes cannot reach the disk.
  bool Write(const void* data, std::size_t length);
  // Closes the file and gives it the name target (replacing a file there).
  // False, and the partial file deleted, when the last bytes cannot be
  // written or the rename fails.
  bool Finish(const char* target);
  // Closes and deletes an unfinished file.
  void Discard();

 private:
  bool Flush();

  Handle handle_;
  char path_[kTextCap] = {0};
  std::vector<char> buffer_;
};

}  // namespace ul
