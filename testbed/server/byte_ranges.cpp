#include "byte_ranges.h"

namespace tb {

namespace {

// Decimal digits only, below 2^62; false for anything else.
bool Number(const std::string& text, uint64_t* value) {
  if (text.empty() || text.size() > 18) return false;
  uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<uint64_t>(c - '0');
  }
  *value = v;
  return true;
}

}  // namespace

RangeAsk ParseByteRange(const std::string& header, uint64_t size, uint64_t* from, uint64_t* count) {
  const std::string unit = "bytes=";
  if (header.compare(0, unit.size(), unit) != 0) return RangeAsk::kWhole;
  const std::string ranges = header.substr(unit.size());
  const std::string::size_type dash = ranges.find('-');
  if (dash == std::string::npos || ranges.find(',') != std::string::npos) return RangeAsk::kWhole;
  uint64_t first = 0, last = 0;
  const bool hasFirst = Number(ranges.substr(0, dash), &first);
  const bool hasLast = Number(ranges.substr(dash + 1), &last);
  if (dash == 0) {  // the last bytes
    if (!hasLast) return RangeAsk::kWhole;
    if (last == 0 || size == 0) return RangeAsk::kUnsatisfiable;
    *count = last < size ? last : size;
    *from = size - *count;
    return RangeAsk::kOne;
  }
  if (!hasFirst || (dash + 1 < ranges.size() && (!hasLast || last < first))) return RangeAsk::kWhole;
  if (first >= size) return RangeAsk::kUnsatisfiable;
  if (dash + 1 == ranges.size() || last >= size) last = size - 1;
  *from = first;
  *count = last - first + 1;
  return RangeAsk::kOne;
}

std::string ContentRange(uint64_t from, uint64_t count, uint64_t size) {
  return "bytes " + std::to_string(from) + "-" + std::to_string(from + count - 1) + "/" + std::to_string(size);
}

}  // namespace tb
