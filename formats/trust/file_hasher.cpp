#include "formats/trust/file_hasher.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

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

bool FileLength(std::FILE* file, int64_t& length) {
#ifdef _WIN32
  if (_fseeki64(file, 0, SEEK_END) != 0) return false;
  length = _ftelli64(file);
  if (length < 0 || _fseeki64(file, 0, SEEK_SET) != 0) return false;
#else
  if (fseeko(file, 0, SEEK_END) != 0) return false;
  length = static_cast<int64_t>(ftello(file));
  if (length < 0 || fseeko(file, 0, SEEK_SET) != 0) return false;
#endif
  return true;
}

}  // namespace

void ChainedDigest::Restart() {
  std::memset(current_, 0, sizeof current_);
  fill_ = 0;
  first_ = true;
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
  if (n == 0) return;
  if (first_) {
    DigestBuffer(ChunkSpace(), n, current_);
    first_ = false;
    return;
  }
  // The previous digest's text goes in front of the chunk, and the digest
  // covers as many bytes as the chunk holds, so the last 32 bytes of every
  // later chunk fall outside it. The server computes its list the same way.
  std::memcpy(work_, current_, kDigestChars);
  DigestBuffer(work_, n, current_);
}

void ChainedDigest::Finish(char (&hex)[kDigestChars + 1]) {
  if (fill_ > 0) EndChunk(fill_);
  std::memcpy(hex, current_, sizeof current_);
}

FileHasher::FileHasher() = default;

FileHasher::~FileHasher() = default;

bool FileHasher::ComputeFileDigest(const char* path, char* digestOut) {
  if (path == nullptr || digestOut == nullptr) return false;
  std::FILE* file = OpenForDigest(path);
  if (file == nullptr) return false;
  digest_.Restart();
  stopped_ = false;

  int64_t remaining = 0;
  bool ok = FileLength(file, remaining);
  while (ok && remaining > 0) {
    const std::size_t want =
        remaining < static_cast<int64_t>(kChunkSize) ? static_cast<std::size_t>(remaining) : kChunkSize;
    const std::size_t got = std::fread(digest_.ChunkSpace(), 1, want, file);
    if (got != want) {
      // A read error, or the file got shorter than it was when opened.
      ok = false;
      break;
    }
    digest_.EndChunk(got);
    remaining -= static_cast<int64_t>(got);
    if (chunkHook_ != nullptr) chunkHook_(chunkHookContext_);
    if (stopped_) ok = false;
  }
  // A file that grew while it was read does not match either.
  if (ok && std::fgetc(file) != EOF) ok = false;
  if (ok && std::ferror(file)) ok = false;
  std::fclose(file);
  if (!ok) return false;
  char hex[kDigestChars + 1];
  digest_.Finish(hex);
  std::memcpy(digestOut, hex, sizeof hex);
  return true;
}
