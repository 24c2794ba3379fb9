// What one sender may do: posts a minute (each sender a bucket of tokens
// that refills), failed logins likewise, and which addresses may see the
// operators' pages at all. An IPv6 sender is counted by its /64, the
// network one subscriber is given, an IPv4 sender by its address.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace ulr {

// The key a sender is counted by; empty when address is not one.
std::string SenderKey(const std::string& address);

// Each sender starts with burst tokens, takes one for each event and
// regains perMinute of them a minute. perMinute 0: no limit. The table
// keeps at most maxSenders senders; when every one of them is still short
// of tokens, a new sender is refused too, so that many addresses cannot
// push the others' counts out.
class SenderBuckets {
 public:
  SenderBuckets(int perMinute, int burst, std::size_t maxSenders = 65536);
  // Takes one of the sender's tokens; false when none is left.
  bool Take(const std::string& sender, std::int64_t nowMs);
  // Whether the sender has a token left; none is taken.
  bool Has(const std::string& sender, std::int64_t nowMs);

 private:
  struct Bucket {
    double tokens;
    std::int64_t atMs;
  };
  Bucket* Find(const std::string& sender, std::int64_t nowMs);

  const double perMs_, burst_;
  const std::size_t maxSenders_;
  std::mutex mutex_;
  std::unordered_map<std::string, Bucket> buckets_;
};

// Addresses and networks, "ADDR" or "ADDR/BITS", IPv4 or IPv6.
class AddressRanges {
 public:
  // A list separated by commas; false (and nothing kept) when an entry is
  // not an address or network.
  bool Parse(const std::string& list);
  bool Contains(const std::string& address) const;

 private:
  struct Range {
    int family;
    unsigned char bytes[16];
    int bits;
  };
  std::vector<Range> ranges_;
};

}  // namespace ulr
