#include "formats/trust/file_hasher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "portable_support.h"

namespace {

using testsupport::Md5Hex;

// Expected chained digests, made with md5sum by make_digest_constants.sh
// over testsupport::PatternBytes of each length.
struct ChainedCase {
  std::size_t length;
  const char* digest;
};
const ChainedCase kChained[] = {
    {0, ""},
    {10, "461583fa5ef4cee99403aafc3ebbf95e"},
    {32768, "5603f0d25b006f768812293e1dde7077"},
    {32769, "e4da3b7fbbce2345d7772b0674a318d5"},
    {65536, "4753bbabbfc8644ad8beec86e404c91d"},
    {100000, "eba6ecbddc7485e324d5c58aa0079d4a"},
};

TEST(FileDigest, ChainedOverChunksMatchesIndependentValues) {
  FileHasher hasher;  // one object for every file, as the comparison pass uses it
  for (const ChainedCase& c : kChained) {
    testsupport::TempFile file(testsupport::PatternBytes(c.length));
    char digest[33] = {0};
    ASSERT_TRUE(hasher.ComputeFileDigest(file.path().c_str(), digest)) << c.length;
    EXPECT_STREQ(digest, c.digest) << "length " << c.length;
  }
  // A file of one chunk has the plain MD5 of its bytes.
  EXPECT_EQ(Md5Hex(testsupport::PatternBytes(10)), kChained[1].digest);
}

// A body as it arrives, in pieces of any size (a download's reads), gives
// the same digest as the file read from disk.
TEST(FileDigest, BytesInPiecesOfAnySizeGiveTheFilesDigest) {
  ChainedDigest digest;
  for (const ChainedCase& c : kChained) {
    const std::string data = testsupport::PatternBytes(c.length);
    for (std::size_t piece : {std::size_t{1}, std::size_t{4095}, std::size_t{32768}, std::size_t{40000}}) {
      digest.Restart();
      for (std::size_t at = 0; at < data.size(); at += piece) digest.Add(data.data() + at, std::min(piece, data.size() - at));
      char hex[33];
      digest.Finish(hex);
      EXPECT_STREQ(hex, c.digest) << "length " << c.length << " in pieces of " << piece;
    }
  }
}

TEST(FileDigest, SecondChunkCoversPreviousDigestAndChunkWithoutItsTail) {
  // 65536 bytes: MD5 of the first chunk's digest text and the first 32736
  // bytes of the second chunk, computed here with DigestBuffer.
  const std::string data = testsupport::PatternBytes(65536);
  const std::string first = Md5Hex(data.substr(0, 32768));
  const std::string expected = Md5Hex(first + data.substr(32768, 32768 - 32));
  testsupport::TempFile file(data);
  FileHasher hasher;
  char digest[33] = {0};
  ASSERT_TRUE(hasher.ComputeFileDigest(file.path().c_str(), digest));
  EXPECT_EQ(std::string(digest), expected);
}

TEST(FileDigest, MissingFileFailsAndLeavesOutputAlone) {
  FileHasher hasher;
  char digest[33];
  std::memset(digest, 0, sizeof digest);
  EXPECT_FALSE(hasher.ComputeFileDigest(testsupport::UniqueTempPath("missing").c_str(), digest));
  EXPECT_STREQ(digest, "");
  EXPECT_FALSE(hasher.ComputeFileDigest(nullptr, digest));
}

// After the first chunk, tries to shorten or lengthen the file that is being
// hashed. Where the C runtime can deny others write access (Windows) the
// attempt itself must fail; elsewhere it succeeds and the digest must fail.
struct ChangeWhileReading {
  std::string path;
  const char* mode;  // "wb" empties the file, "ab" appends to it
  int chunks = 0;
  bool changed = false;
  static void AfterChunk(void* context) {
    auto* self = static_cast<ChangeWhileReading*>(context);
    if (++self->chunks != 1) return;
    std::FILE* f = std::fopen(self->path.c_str(), self->mode);
    if (f == nullptr) return;
    std::fputc('x', f);
    std::fclose(f);
    self->changed = true;
  }
};

TEST(FileDigest, FileChangingLengthWhileReadCountsAsDiffering) {
  for (const char* mode : {"wb", "ab"}) {
    SCOPED_TRACE(mode);
    // Three chunks: a shortened file runs dry before its old length; a
    // lengthened one still has bytes after it.
    testsupport::TempFile file(testsupport::PatternBytes(3 * 32768));
    ChangeWhileReading change{file.path(), mode};
    FileHasher hasher;
    hasher.SetChunkHook(&ChangeWhileReading::AfterChunk, &change);
    char digest[33] = {0};
    bool ok = hasher.ComputeFileDigest(file.path().c_str(), digest);
#ifdef _WIN32
    EXPECT_FALSE(change.changed) << "write access was not denied while hashing";
    EXPECT_TRUE(ok);
#else
    ASSERT_TRUE(change.changed);
    EXPECT_FALSE(ok);
    EXPECT_STREQ(digest, "");
#endif
    // An emptied file ends the loop at the first read that comes back short.
    EXPECT_EQ(change.chunks, (!ok && mode[0] == 'w') ? 1 : 3);
  }
}

// Paused after every few chunks and continued by another hasher (as a
// later start does, from the progress the record kept), a read ends with
// the digest of the file read at once; progress that cannot be this file's
// fails the read.
struct PauseEvery {
  FileHasher* hasher;
  int every;
  int chunks = 0;
  static void AfterChunk(void* self) {
    PauseEvery& p = *static_cast<PauseEvery*>(self);
    if (++p.chunks % p.every == 0) p.hasher->Pause();
  }
};

TEST(FileDigest, AReadPausedAndContinuedGivesTheWholeReadsDigest) {
  for (const ChainedCase& c : kChained) {
    testsupport::TempFile file(testsupport::PatternBytes(c.length));
    for (int every : {1, 2}) {
      DigestProgress progress;
      char digest[33] = {0};
      int pauses = 0;
      for (;;) {
        FileHasher hasher;
        PauseEvery pause{&hasher, every};
        hasher.SetChunkHook(&PauseEvery::AfterChunk, &pause);
        const FileHasher::Outcome outcome = hasher.ContinueFileDigest(file.path().c_str(), progress, digest);
        if (outcome != FileHasher::Outcome::kPaused) {
          ASSERT_EQ(outcome, FileHasher::Outcome::kDone) << c.length;
          break;
        }
        ASSERT_EQ(progress.bytes, static_cast<uint64_t>(++pauses * every) * ChainedDigest::kChunkSize);
      }
      EXPECT_STREQ(digest, c.digest) << "length " << c.length << ", paused every " << every << " chunks";
      EXPECT_EQ(pauses, c.length == 0 ? 0 : static_cast<int>((c.length - 1) / 32768) / every);
    }
  }
  testsupport::TempFile file(testsupport::PatternBytes(100000));
  const struct {
    const char* what;
    uint64_t bytes;
    const char* state;
  } wrong[] = {
      {"at the file's end", 131072, "5603f0d25b006f768812293e1dde7077"},
      {"inside a chunk", 32769, "5603f0d25b006f768812293e1dde7077"},
      {"a state that is no digest", 32768, "5603F0D25B006F768812293E1DDE7077"},
  };
  for (const auto& row : wrong) {
    DigestProgress progress;
    progress.bytes = row.bytes;
    std::memcpy(progress.state, row.state, 33);
    FileHasher hasher;
    char digest[33] = {0};
    EXPECT_EQ(hasher.ContinueFileDigest(file.path().c_str(), progress, digest), FileHasher::Outcome::kFailed)
        << row.what;
  }
}

TEST(FileDigest, TextBytesAreHashedAsTheyStand) {
  // CR LF must not be folded: the digest is over the file's bytes.
  testsupport::TempFile file("a\r\nb\r\n");
  FileHasher hasher;
  char digest[33] = {0};
  ASSERT_TRUE(hasher.ComputeFileDigest(file.path().c_str(), digest));
  EXPECT_EQ(std::string(digest), Md5Hex("a\r\nb\r\n"));
}

}  // namespace
