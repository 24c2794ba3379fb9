#include "receive/limits.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>

namespace ulr {

namespace {

// The address's family and bytes (4 or 16 of them); 0 when it is none.
// An IPv4 address written as IPv6 (::ffff:a.b.c.d) is the IPv4 one.
int ParseAddress(const std::string& text, unsigned char bytes[16]) {
  static const unsigned char kMapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
  if (inet_pton(AF_INET, text.c_str(), bytes) == 1) return AF_INET;
  if (inet_pton(AF_INET6, text.c_str(), bytes) != 1) return 0;
  if (std::memcmp(bytes, kMapped, sizeof kMapped) != 0) return AF_INET6;
  std::memmove(bytes, bytes + 12, 4);
  return AF_INET;
}

}  // namespace

std::string SenderKey(const std::string& address) {
  unsigned char bytes[16];
  const int family = ParseAddress(address, bytes);
  if (family == AF_INET) return std::string(reinterpret_cast<const char*>(bytes), 4);
  if (family == AF_INET6) return std::string(reinterpret_cast<const char*>(bytes), 8);
  return "";
}

SenderBuckets::SenderBuckets(int perMinute, int burst, std::size_t maxSenders)
    : perMs_(perMinute / 60000.0), burst_(burst), maxSenders_(maxSenders) {}

SenderBuckets::Bucket* SenderBuckets::Find(const std::string& sender, std::int64_t nowMs) {
  auto at = buckets_.find(sender);
  if (at != buckets_.end()) {
    Bucket& b = at->second;
    b.tokens = std::min(burst_, b.tokens + static_cast<double>(nowMs - b.atMs) * perMs_);
    b.atMs = nowMs;
    return &b;
  }
  if (buckets_.size() >= maxSenders_) {
    // A sender whose bucket has filled again is one never seen.
    for (auto i = buckets_.begin(); i != buckets_.end();)
      i = i->second.tokens + static_cast<double>(nowMs - i->second.atMs) * perMs_ >= burst_ ? buckets_.erase(i)
                                                                                            : std::next(i);
    if (buckets_.size() >= maxSenders_) return nullptr;
  }
  return &buckets_.emplace(sender, Bucket{burst_, nowMs}).first->second;
}

bool SenderBuckets::Take(const std::string& sender, std::int64_t nowMs) {
  if (perMs_ <= 0) return true;
  std::lock_guard<std::mutex> lock(mutex_);
  Bucket* b = Find(sender, nowMs);
  if (b == nullptr || b->tokens < 1) return false;
  b->tokens -= 1;
  return true;
}

bool SenderBuckets::Has(const std::string& sender, std::int64_t nowMs) {
  if (perMs_ <= 0) return true;
  std::lock_guard<std::mutex> lock(mutex_);
  const Bucket* b = Find(sender, nowMs);
  return b != nullptr && b->tokens >= 1;
}

bool AddressRanges::Parse(const std::string& list) {
  std::vector<Range> ranges;
  for (std::size_t from = 0; from <= list.size();) {
    std::size_t comma = list.find(',', from);
    if (comma == std::string::npos) comma = list.size();
    const std::string entry = list.substr(from, comma - from);
    from = comma + 1;
    const std::size_t slash = entry.find('/');
    Range r{};
    r.family = ParseAddress(entry.substr(0, slash), r.bytes);
    const int most = r.family == AF_INET ? 32 : 128;
    r.bits = most;
    if (slash != std::string::npos) {
      const std::string bits = entry.substr(slash + 1);
      if (bits.empty() || bits.size() > 3 || bits.find_first_not_of("0123456789") != std::string::npos) return false;
      r.bits = std::stoi(bits);
    }
    if (r.family == 0 || r.bits > most) return false;
    ranges.push_back(r);
  }
  ranges_ = std::move(ranges);
  return true;
}

bool AddressRanges::Contains(const std::string& address) const {
  unsigned char bytes[16];
  const int family = ParseAddress(address, bytes);
  for (const Range& r : ranges_) {
    if (r.family != family) continue;
    const int whole = r.bits / 8, rest = r.bits % 8;
    if (std::memcmp(bytes, r.bytes, static_cast<std::size_t>(whole)) != 0) continue;
    if (rest == 0 || ((bytes[whole] ^ r.bytes[whole]) & (0xFF << (8 - rest)) & 0xFF) == 0) return true;
  }
  return false;
}

}  // namespace ulr
