// A digest computed on a thread of its own (SHA-256, chained) is the one computed in place,
// whatever the pieces: empty input, pieces that straddle its slots, more
// bytes than all slots hold at once, and without a thread at all.
#include "net/digest_thread_win.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "formats/trust/release_manifest.h"

namespace {

std::string Direct(const std::vector<uint8_t>& bytes) {
  ul::Sha256 sha;
  uint8_t digest[ul::kSha256Bytes];
  return sha.Update(bytes.data(), bytes.size()) && sha.Finish(digest) ? ul::Hex(digest, sizeof digest) : "failed";
}

std::string Threaded(const std::vector<uint8_t>& bytes, std::size_t piece, bool start) {
  Sha256Thread sha;
  if (start) {
    EXPECT_TRUE(sha.Start());
  }
  for (std::size_t at = 0; at < bytes.size(); at += piece)
    EXPECT_TRUE(sha.Add(bytes.data() + at, std::min(piece, bytes.size() - at)));
  uint8_t digest[ul::kSha256Bytes];
  return sha.Finish(digest) ? ul::Hex(digest, sizeof digest) : "failed";
}

std::string DirectChained(const std::vector<uint8_t>& bytes) {
  ChainedDigest digest;
  digest.Add(bytes.data(), bytes.size());
  char hex[33];
  return digest.Finish(hex) ? hex : "failed";
}

std::string ThreadedChained(const std::vector<uint8_t>& bytes, std::size_t piece, bool start) {
  ChainedDigestThread digest;
  if (start) {
    EXPECT_TRUE(digest.Start());
  }
  for (std::size_t at = 0; at < bytes.size(); at += piece)
    EXPECT_TRUE(digest.Add(bytes.data() + at, std::min(piece, bytes.size() - at)));
  char hex[33];
  return digest.Finish(hex) ? hex : "failed";
}

TEST(Sha256Thread, SameDigestAsInPlace) {
  struct Row {
    std::size_t size, piece;
    bool start;
  } rows[] = {
      {0, 1, true},                 // nothing added
      {1, 1, true},                 // one byte
      {(256u << 10) - 1, 4096, true},  // one byte short of a slot
      {(256u << 10) + 1, 65536, true}, // one byte into the next slot
      {5u << 20, 1000003, true},    // more than every slot, pieces across slots
      {3u << 20, 1u << 20, false},  // no thread: hashed in Add
  };
  for (const Row& r : rows) {
    std::vector<uint8_t> bytes(r.size);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>((i * 2654435761u) >> 13);
    EXPECT_EQ(Threaded(bytes, r.piece, r.start), Direct(bytes)) << r.size << " in " << r.piece;
    EXPECT_EQ(ThreadedChained(bytes, r.piece, r.start), DirectChained(bytes)) << r.size << " in " << r.piece;
  }
}

TEST(Sha256Thread, StopsWhenLeftUnfinished) {
  std::vector<uint8_t> bytes(1u << 20, 7);
  Sha256Thread sha;
  ASSERT_TRUE(sha.Start());
  EXPECT_TRUE(sha.Add(bytes.data(), bytes.size()));
}  // the destructor ends the thread without a digest

}  // namespace
