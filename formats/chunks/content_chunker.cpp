#include "formats/chunks/content_chunker.h"

#include <array>

namespace ul {

namespace {

// One fixed 64-bit value per byte value for the rolling hash. The hash
// moves one bit up for every byte, so a byte's part has left it 64 bytes
// later: that is what makes a boundary depend on the last 64 bytes only. The
// values come from a fixed pseudo-random sequence, so every build of the
// publisher and of the updater cuts a file at the same places.
constexpr std::array<uint64_t, 256> MakeByteValues() {
  std::array<uint64_t, 256> values{};
  uint64_t state = 0x756c6d6574636875ull;
  for (auto& v : values) {
    state += 0x9e3779b97f4a7c15ull;
    uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    v = z ^ (z >> 31);
  }
  return values;
}
constexpr std::array<uint64_t, 256> kByteValues = MakeByteValues();

// A boundary falls where the hash's top bits are all zero. Up to the normal
// size more bits must be zero than after it, which draws the sizes
// together around the normal size instead of spreading them evenly.
constexpr uint64_t TopBits(int n) { return ~uint64_t{0} << (64 - n); }
constexpr uint64_t kMaskBelowNormal = TopBits(20);
constexpr uint64_t kMaskAboveNormal = TopBits(16);

}  // namespace

std::size_t ContentChunker::Scan(const uint8_t* data, std::size_t n, bool* ends) {
  *ends = false;
  std::size_t i = 0;
  // No boundary falls below the smallest size: those bytes are only counted,
  // and the hash starts afresh after them.
  if (length_ < kChunkMinBytes) {
    const std::size_t skip = n < kChunkMinBytes - length_ ? n : kChunkMinBytes - length_;
    length_ += static_cast<uint32_t>(skip);
    i = skip;
  }
  for (; i < n && length_ < kChunkMaxBytes; ++i) {
    hash_ = (hash_ << 1) + kByteValues[data[i]];
    ++length_;
    const uint64_t mask = length_ <= kChunkNormalBytes ? kMaskBelowNormal : kMaskAboveNormal;
    if ((hash_ & mask) == 0 || length_ == kChunkMaxBytes) {
      *ends = true;
      hash_ = 0;
      length_ = 0;
      return i + 1;
    }
  }
  return i;
}

}  // namespace ul
