// Content-defined chunk boundaries: where a big file is cut into the pieces
// that travel, are copied from the installed copy and are checked one by
// one.
//
// A boundary depends only on the bytes just before it (a rolling hash over
// the last 64 bytes) and on the previous boundary, so bytes inserted or
// removed in one place move the boundaries near the change only: the
// following ones fall on the same content again, and the chunks after the
// change keep their digests.
//
// Sizes, and why:
//   - at least 64 KiB: one chunk's record in an index takes 44 bytes, so an
//     index stays below 0.07 % of its file whatever the content;
//   - about 256 KiB on average (242 KiB measured over random bytes): one
//     changed byte costs one chunk or two, some 65 ms each at
//     the updater's pace of 4 KB per millisecond, and a range request carries
//     enough to make its own cost small. Below the normal size a boundary is
//     rare and above it common, which draws the sizes together around the
//     average;
//   - at most 1 MiB: a run of bytes without a natural boundary (zeros, say)
//     is still cut, and one chunk always fits a small buffer.
//
// No Windows headers here: this builds natively for the sanitizer runs.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ul {

constexpr uint32_t kChunkMinBytes = 64u << 10;
constexpr uint32_t kChunkNormalBytes = 192u << 10;
constexpr uint32_t kChunkMaxBytes = 1u << 20;

// Finds the boundaries in a stream of bytes handed over in pieces of any
// size.
class ContentChunker {
 public:
  // How many of the n bytes at data belong to the current chunk. *ends is
  // true when the chunk ends after them; the chunker then starts the next
  // chunk, to which the rest of the bytes belong (pass them again).
  std::size_t Scan(const uint8_t* data, std::size_t n, bool* ends);

  // Bytes of the current chunk so far.
  uint32_t length() const { return length_; }

 private:
  uint64_t hash_ = 0;
  uint32_t length_ = 0;
};

}  // namespace ul
