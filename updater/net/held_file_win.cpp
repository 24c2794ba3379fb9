#include "net/held_file_win.h"

#include <fcntl.h>
#include <io.h>

#include <algorithm>

#include "common/trace.h"
#include "formats/trust/release_check.h"

namespace ul {

namespace {

// The body reaches the disk in pieces of this size rather than with one
// system call after every 4 KB network read.
constexpr std::size_t kWriteBuffer = 65536;

bool ReadHandle(void* source, char* buffer, std::size_t cap, std::size_t* got) {
  DWORD n = 0;
  const BOOL ok = ReadFile(static_cast<HANDLE>(source), buffer, static_cast<DWORD>(cap), &n, nullptr);
  *got = n;
  return ok != FALSE;
}

}  // namespace

bool HeldFile::Open(const char* path) {
  Close();
  Copy(path_, path);
  handle_.Reset(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
  if (handle_) return true;
  DebugTrace("Cannot hold %s (error %d)", path, static_cast<int>(GetLastError()));
  path_[0] = '\0';
  return false;
}

void HeldFile::Close() {
  handle_.Reset();
  path_[0] = '\0';
}

bool HeldFile::Rewind() {
  return handle_ && SetFilePointer(handle_.Get(), 0, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER;
}

bool HeldFile::Sha256(uint8_t (&digest)[kSha256Bytes], uint64_t* size) {
  return Rewind() && Sha256Read(ReadHandle, handle_.Get(), digest, size);
}

bool HeldFile::ReadAll(std::size_t limit, std::string* bytes) {
  bytes->clear();
  if (!Rewind()) return false;
  char buffer[4096];
  std::size_t n = 0;
  while (ReadHandle(handle_.Get(), buffer, sizeof buffer, &n) && n > 0) {
    if (bytes->size() + n > limit) return false;
    bytes->append(buffer, n);
  }
  return n == 0;
}

std::FILE* HeldFile::TextStream() {
  ul::Handle copy;
  if (!Rewind() || !DuplicateHandle(GetCurrentProcess(), handle_.Get(), GetCurrentProcess(), copy.Receive(),
                                    0, FALSE, DUPLICATE_SAME_ACCESS))
    return nullptr;
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(copy.Get()), _O_RDONLY | _O_TEXT);
  if (fd == -1) return nullptr;
  // The copy belongs to the descriptor from here on, and with it to the
  // stream: fclose closes it.
  copy.Release();
  std::FILE* stream = _fdopen(fd, "rt");
  if (stream == nullptr) _close(fd);
  return stream;
}

bool PartialFile::Create(const char* path, bool createNew) {
  Discard();
  Copy(path_, path);
  if (createNew) {
    // Whatever stands under the name is not written into: it goes, or the
    // download fails. Made new, the file is this process's with the
    // folder's inherited access list, and no one else holds it.
    if (!DeleteFileA(path) && GetLastError() != ERROR_FILE_NOT_FOUND)
      DebugTrace("Cannot remove an earlier %s (error %d)", path, static_cast<int>(GetLastError()));
  }
  handle_.Reset(CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                            createNew ? CREATE_NEW : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!handle_) {
    DebugTrace("Cannot create %s (error %d)", path, static_cast<int>(GetLastError()));
    path_[0] = '\0';
    return false;
  }
  buffer_.clear();
  buffer_.reserve(kWriteBuffer);
  return true;
}

bool PartialFile::Flush() {
  DWORD written = 0;
  const bool ok = buffer_.empty() ||
                  (WriteFile(handle_.Get(), buffer_.data(), static_cast<DWORD>(buffer_.size()),
                             &written, nullptr) &&
                   written == buffer_.size());
  buffer_.clear();
  return ok;
}

bool PartialFile::Write(const void* data, std::size_t length) {
  if (!handle_) return false;
  const char* bytes = static_cast<const char*>(data);
  while (length > 0) {
    const std::size_t n = std::min(length, kWriteBuffer - buffer_.size());
    buffer_.insert(buffer_.end(), bytes, bytes + n);
    bytes += n;
    length -= n;
    if (buffer_.size() == kWriteBuffer && !Flush()) return false;
  }
  return true;
}

bool PartialFile::Finish(const char* target) {
  if (!handle_) return false;
  const bool written = Flush();
  handle_.Reset();
  if (written && MoveFileExA(path_, target, MOVEFILE_REPLACE_EXISTING)) {
    path_[0] = '\0';
    return true;
  }
  DebugTrace("Error : %d", static_cast<int>(GetLastError()));
  Discard();
  return false;
}

void PartialFile::Discard() {
  handle_.Reset();
  buffer_.clear();
  if (path_[0] != '\0') DeleteFileA(path_);
  path_[0] = '\0';
}

}  // namespace ul
