// Numbers in the chunk files' binary formats: little-endian, written and read
// byte by byte, so that neither the machine's byte order nor alignment
// matters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace ul {

inline void PutLe(std::string* out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out->push_back(static_cast<char>((value >> (8 * i)) & 0xff));
}

// Reads bytes-wide numbers from a bounded buffer; once a read would pass
// the end, every read fails.
class LeReader {
 public:
  LeReader(const void* data, std::size_t size)
      : data_(static_cast<const uint8_t*>(data)), size_(size) {}

  bool Number(int bytes, uint64_t* value) {
    if (!Has(static_cast<std::size_t>(bytes))) return false;
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) v |= static_cast<uint64_t>(data_[at_ + i]) << (8 * i);
    at_ += static_cast<std::size_t>(bytes);
    *value = v;
    return true;
  }
  bool Bytes(void* out, std::size_t n) {
    if (!Has(n)) return false;
    uint8_t* o = static_cast<uint8_t*>(out);
    for (std::size_t i = 0; i < n; ++i) o[i] = data_[at_ + i];
    at_ += n;
    return true;
  }
  std::size_t left() const { return ok_ ? size_ - at_ : 0; }

 private:
  bool Has(std::size_t n) {
    ok_ = ok_ && n <= size_ - at_;
    return ok_;
  }
  const uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
  bool ok_ = true;
};

}  // namespace ul
