// The reads of an answer's body, each followed by the 1 ms pause that leaves
// the processor to the rest of the system: the one place downloads and byte
// ranges take their bytes from WinINet.
//
// At the default size of 4,096 bytes a read takes what has arrived, up to
// that size, and every read is followed by its pause, as the updater has
// always read. A program configuration's "[PACE]" may allow larger reads
// (formats/lists/program_config.h): each then waits until it holds its size
// (or the body ends) before its pause, so that one pause follows every
// size bytes.
#pragma once

#include <windows.h>

#include <wininet.h>

#include <cstdint>

constexpr uint32_t kDefaultReadBytes = 4096;

class PacedReader {
 public:
  explicit PacedReader(uint32_t readBytes = kDefaultReadBytes)
      : size_(readBytes < kDefaultReadBytes ? kDefaultReadBytes : readBytes) {}
  uint32_t size() const { return size_; }

  // The next bytes of request's body into buffer, at most want (no more
  // than size()): *got of them, 0 at the end of the body. False when a read
  // fails.
  bool Next(HINTERNET request, char* buffer, DWORD want, DWORD* got) const;

 private:
  uint32_t size_;
};
