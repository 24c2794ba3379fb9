// Digest of an installed file in the chained form the server's hash list
// carries: MD5 over 32 KB chunks, each later chunk prefixed with the
// previous chunk's digest text.
//
// No Windows headers here: this builds natively for the sanitizer runs.
#pragma once

#include <cstddef>
#include <cstdint>

// The chained digest of bytes handed over in pieces of any size: the one
// home of the chaining, for files read from disk (FileHasher) and bodies as
// they arrive.
class ChainedDigest {
 public:
  static constexpr std::size_t kChunkSize = 32768;
  static constexpr std::size_t kDigestChars = 32;

  ChainedDigest() { Restart(); }
  void Restart();
  void Add(const void* data, std::size_t n);
  // Where the caller may put the next chunk's bytes itself (kChunkSize of
  // room; only when nothing is buffered), then EndChunk with their count.
  unsigned char* ChunkSpace() { return work_ + kDigestChars; }
  void EndChunk(std::size_t n);
  // The digest of everything given (32 lower-case hexadecimal characters and
  // a terminator; an empty text for no bytes). Restart before reuse. False,
  // with an empty text, when the system could not digest a chunk.
  bool Finish(char (&hex)[kDigestChars + 1]);

  // At a chunk boundary after at least one chunk, the state the chaining
  // carries to the next chunk is the last digest's text: Current gives it,
  // and ResumeFrom makes a new digest go on from it, as if the chunks
  // before had been given again.
  const char* Current() const { return current_; }
  void ResumeFrom(const char* state);

 private:
  char current_[kDigestChars + 1];
  // The previous digest's 32 characters, then the chunk being filled.
  unsigned char work_[kDigestChars + kChunkSize + 1];
  std::size_t fill_ = 0;
  bool first_ = true;
  bool failed_ = false;
};

// How far the digest of one file has come: whole chunks from its start
// and the chaining's state after them, so that a later read (a later start
// of the program) can go on from there instead of from the first byte.
// Nothing read yet: 0 bytes.
struct DigestProgress {
  uint64_t bytes = 0;
  char state[ChainedDigest::kDigestChars + 1] = {0};
};

class FileHasher {
 public:
  static constexpr std::size_t kChunkSize = ChainedDigest::kChunkSize;
  static constexpr std::size_t kDigestChars = ChainedDigest::kDigestChars;

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

  // The same, going on from progress (the file read from its start when
  // that is empty). kPaused: the hook called Pause before the last chunk,
  // and progress now says how far the digest came. Progress that cannot
  // belong to the file (beyond its end, not at a chunk boundary) fails.
  enum class Outcome { kDone, kPaused, kFailed };
  Outcome ContinueFileDigest(const char* path, DigestProgress& progress, char* digestOut);

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
  // Called from the hook: the read ends after this chunk, to be continued
  // later from the progress it hands back (ContinueFileDigest only).
  void Pause() { paused_ = true; }
  // During the hook: the bytes of the file still to be read.
  uint64_t BytesLeft() const { return left_; }

 private:
  ChainedDigest digest_;
  ChunkHook chunkHook_ = nullptr;
  void* chunkHookContext_ = nullptr;
  bool stopped_ = false;
  bool paused_ = false;
  uint64_t left_ = 0;
};
