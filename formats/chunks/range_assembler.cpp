#include "formats/chunks/range_assembler.h"

#include <cstring>
#include <new>

#include "formats/trust/release_crypto.h"

namespace ul {

RangeAssembler::RangeAssembler(const ChunkIndex& index, const RangeRequest& request, CheckedChunkSink& sink)
    : index_(index), sink_(sink), first_(request.firstChunk), next_(request.firstChunk),
      end_(request.firstChunk + request.chunkCount) {
  if (end_ > index_.chunks.size() || end_ < first_) {
    ok_ = false;
    return;
  }
  // One chunk at a time: never more than the largest chunk is held.
  uint32_t largest = 0;
  for (std::size_t i = first_; i < end_; ++i)
    if (index_.chunks[i].length > largest) largest = index_.chunks[i].length;
  buffer_.resize(largest);
}

bool RangeAssembler::Take(const void* data, std::size_t n) {
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  while (ok_ && n > 0) {
    if (next_ == end_) {
      ok_ = false;  // more than was asked for
      break;
    }
    const uint32_t want = index_.chunks[next_].length - filled_;
    const std::size_t take = n < want ? n : want;
    std::memcpy(buffer_.data() + filled_, bytes, take);
    filled_ += static_cast<uint32_t>(take);
    bytes += take;
    n -= take;
    if (filled_ == index_.chunks[next_].length) ok_ = EndChunk();
  }
  return ok_;
}

bool RangeAssembler::EndChunk() {
  const ChunkRecord& chunk = index_.chunks[next_];
  uint8_t digest[kSha256Bytes];
  Sha256 sha;
  if (!sha.Update(buffer_.data(), chunk.length) || !sha.Finish(digest)) return false;
  if (std::memcmp(digest, chunk.sha256, kSha256Bytes) != 0) {
    badChunk_ = true;
    return false;
  }
  if (!sink_.ChunkChecked(next_, buffer_.data(), chunk.length)) return false;
  ++next_;
  filled_ = 0;
  return true;
}

}  // namespace ul
