// Digest of an installed file in the chained form the server's hash list
// carries: MD5 over 32 KB chunks, each later chunk prefixed with the
// previous chunk's digest text.
//
// No Windows headers here: this builds natively for the sanitizer runs.
#pragma once

#include <cstddef>

class FileHasher {
 public:
  static constexpr std::size_t kChunkSize = 32768;
  static constexpr std::size_t kDigestChars = 32;

  FileHasher();
  virtual ~FileHasher();
  FileHasher(const FileHasher&) = delete;
  FileHasher& operator=(const FileHasher&) = delete;

  // Computes the chained digest of the file at path into digestOut (at
  // least 33 bytes: 32 lower-case hexadecimal characters and a terminator).
  // False when the file cannot be opened, a read fails, or the file's length
  // changes while it is read; digestOut is then left as it was, so a caller
  // that cleared it sees a digest that matches nothing.
  bool ComputeFileDigest(const char* path, char* digestOut);

  // Called after every chunk: where a caller paces the reading (the
  // updater's 1 ms pause leaves the processor to the rest of the system
  // while a large installation is hashed). Null: no call, no pause.
  using ChunkHook = void (*)(void* context);
  void SetChunkHook(ChunkHook hook, void* context) {
    chunkHook_ = hook;
    chunkHookContext_ = context;
  }
  // Called from the hook: the digest being computed ends after this chunk
  // and counts as failed (the next one starts as usual).
  void Stop() { stopped_ = true; }

 private:
  char currentDigest_[kDigestChars + 1];
  // The previous digest's 32 characters, then the chunk just read.
  unsigned char work_[kDigestChars + kChunkSize + 1];
  ChunkHook chunkHook_ = nullptr;
  void* chunkHookContext_ = nullptr;
  bool stopped_ = false;
};
