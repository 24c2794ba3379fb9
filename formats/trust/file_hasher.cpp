#include "formats/trust/file_hasher.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#ifdef _WIN32
#include <share.h>
#endif

#include "formats/trust/md5.h"

namespace {

// Opens for reading while denying others write access where the C runtime
// can, so the file cannot change under the digest.
std::FILE* OpenForDigest(const char* path) {
#ifdef _WIN32
  return _fsopen(path, "rb", _SH_DENYWR);
#else
  return std::fopen(path, "rb");
#endif
}

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using OwnedFile = std::unique_ptr<std::FILE, FileCloser>;

bool SeekTo(std::FILE* file, int64_t at) {
#ifdef _WIN32
  return _fseeki64(file, at, SEEK_SET) == 0;
#else
  return fseeko(file, static_cast<off_t>(at), SEEK_SET) == 0;
#endif
}

bool FileLength(std::FILE* file, int64_t& length) {
#ifdef _WIN32
  if (_fseeki64(file, 0, SEEK_END) != 0) return false;
  length = _ftelli64(file);
#else
  if (fseeko(file, 0, SEEK_END) != 0) return false;
  length = static_cast<int64_t>(ftello(file));
#endif
  return length >= 0 && SeekTo(file, 0);
}

// Where the digest of a file of length bytes begins: at its first byte, or
// where progress came to, which must be a chunk boundary inside the file.
bool StartAt(std::FILE* file, int64_t length, const DigestProgress& progress, ChainedDigest& digest) {
  digest.Restart();
  if (progress.bytes == 0) return true;
  if (progress.bytes % ChainedDigest::kChunkSize != 0 || progress.bytes >= static_cast<uint64_t>(length) ||
      !IsDigestHex(progress.state))
    return false;
  digest.ResumeFrom(progress.state);
  return SeekTo(file, static_cast<int64_t>(progress.bytes));
}

}  // namespace

void ChainedDigest::Restart() {
  std::memset(current_, 0, sizeof current_);
  fill_ = 0;
  first_ = true;
  failed_ = false;
}

void ChainedDigest::Add(const void* data, std::size_t n) {
  const unsigned char* p = static_cast<const unsigned char*>(data);
  while (n > 0) {
    const std::size_t take = n < kChunkSize - fill_ ? n : kChunkSize - fill_;
    std::memcpy(ChunkSpace() + fill_, p, take);
    fill_ += take;
    p += take;
    n -= take;
    if (fill_ == kChunkSize) EndChunk(kChunkSize);
  }
}

void ChainedDigest::EndChunk(std::size_t n) {
  fill_ = 0;
  // Once a chunk could not be digested, no later one is: the chaining has
  // nothing to go on from, and the text stays empty.
  if (n == 0 || failed_) return;
  if (first_) {
    failed_ = !DigestBuffer(ChunkSpace(), n, current_);
    first_ = false;
    return;
  }
  // The previous digest's text goes in front of the chunk, and the digest
  // covers as many bytes as the chunk holds, so the last 32 bytes of every
  // later chunk fall outside it. The server computes its list the same way.
  std::memcpy(work_, current_, kDigestChars);
  failed_ = !DigestBuffer(work_, n, current_);
}

void ChainedDigest::ResumeFrom(const char* state) {
  std::memcpy(current_, state, kDigestChars);
  current_[kDigestChars] = '\0';
  fill_ = 0;
  first_ = false;
  failed_ = false;
}

bool ChainedDigest::Finish(char (&hex)[kDigestChars + 1]) {
  if (fill_ > 0) EndChunk(fill_);
  std::memcpy(hex, current_, sizeof current_);
  return !failed_;
}

FileHasher::FileHasher() = default;

FileHasher::~FileHasher() = default;

bool FileHasher::ComputeFileDigest(const char* path, char* digestOut) {
  DigestProgress fromStart;
  return ContinueFileDigest(path, fromStart, digestOut) == Outcome::kDone;
}

FileHasher::Outcome FileHasher::ContinueFileDigest(const char* path, DigestProgress& progress, char* digestOut) {
  if (path == nullptr || digestOut == nullptr) return Outcome::kFailed;
  OwnedFile file(OpenForDigest(path));
  if (!file) return Outcome::kFailed;
  stopped_ = paused_ = false;
  int64_t length = 0;
  if (!FileLength(file.get(), length) || !StartAt(file.get(), length, progress, digest_)) return Outcome::kFailed;
  for (int64_t done = static_cast<int64_t>(progress.bytes); done < length;) {
    const std::size_t want =
        length - done < static_cast<int64_t>(kChunkSize) ? static_cast<std::size_t>(length - done) : kChunkSize;
    // A read error, or the file got shorter than it was when opened.
    if (std::fread(digest_.ChunkSpace(), 1, want, file.get()) != want) return Outcome::kFailed;
    digest_.EndChunk(want);
    done += static_cast<int64_t>(want);
    left_ = static_cast<uint64_t>(length - done);
    if (chunkHook_ != nullptr) chunkHook_(chunkHookContext_);
    if (stopped_) return Outcome::kFailed;
    if (paused_ && done < length) {
      // Every chunk but the last is whole: done is a chunk boundary.
      if (!IsDigestHex(digest_.Current())) return Outcome::kFailed;
      progress.bytes = static_cast<uint64_t>(done);
      std::memcpy(progress.state, digest_.Current(), kDigestChars + 1);
      return Outcome::kPaused;
    }
  }
  // A file that grew while it was read does not match either.
  if (std::fgetc(file.get()) != EOF || std::ferror(file.get())) return Outcome::kFailed;
  char hex[kDigestChars + 1];
  if (!digest_.Finish(hex)) return Outcome::kFailed;
  std::memcpy(digestOut, hex, sizeof hex);
  return Outcome::kDone;
}
