#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "config/file_hasher.h"
#include "config/md5.h"
#include "portable_support.h"

namespace {

std::string Hex(const std::string& data) {
  char hex[33];
  std::memset(hex, 'Z', sizeof hex);
  DigestBuffer(data.data(), data.size(), hex);
  EXPECT_EQ(hex[32], '\0');
  return std::string(hex);
}

TEST(Md5, Rfc1321TestSuite) {
  EXPECT_EQ(Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(Hex("a"), "0cc175b9c0f1b6a831c399e269772661");
  EXPECT_EQ(Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(Hex("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
  EXPECT_EQ(Hex("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
  EXPECT_EQ(Hex("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
            "d174ab98d277d9f5a5611c2c9f419d9f");
  EXPECT_EQ(Hex("1234567890123456789012345678901234567890"
                "1234567890123456789012345678901234567890"),
            "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(Md5, PaddingBoundariesAndPiecewiseUpdates) {
  // Lengths around the 56-byte padding limit and the 64-byte block, fed in
  // one piece and byte by byte, must agree; 55/56/63/64 pin known values.
  EXPECT_EQ(Hex(std::string(55, 'a')), "ef1772b6dff9a122358552954ad0df65");
  EXPECT_EQ(Hex(std::string(56, 'a')), "3b0c8ac703f828b04c6c197006d17218");
  EXPECT_EQ(Hex(std::string(63, 'a')), "b06521f39153d618550606be297466d5");
  EXPECT_EQ(Hex(std::string(64, 'a')), "014842d480b571495a4a0363793f7367");
  const std::string data = testsupport::PatternBytes(300);
  for (std::size_t len = 0; len <= data.size(); len += 7) {
    Md5 md5;
    for (std::size_t i = 0; i < len; ++i) md5.Update(&data[i], 1);
    unsigned char piecewise[16];
    md5.Final(piecewise);
    Md5 whole;
    whole.Update(data.data(), len);
    unsigned char once[16];
    whole.Final(once);
    EXPECT_EQ(std::memcmp(piecewise, once, 16), 0) << "length " << len;
  }
  // Init makes an object reusable.
  Md5 md5;
  md5.Update("garbage", 7);
  md5.Init();
  md5.Update("abc", 3);
  unsigned char d[16];
  md5.Final(d);
  EXPECT_EQ(d[0], 0x90);
  EXPECT_EQ(d[15], 0x72);
}

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
  EXPECT_EQ(Hex(testsupport::PatternBytes(10)), kChained[1].digest);
}

TEST(FileDigest, SecondChunkCoversPreviousDigestAndChunkWithoutItsTail) {
  // 65536 bytes: MD5 of the first chunk's digest text and the first 32736
  // bytes of the second chunk, computed here with DigestBuffer.
  const std::string data = testsupport::PatternBytes(65536);
  const std::string first = Hex(data.substr(0, 32768));
  const std::string expected = Hex(first + data.substr(32768, 32768 - 32));
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

TEST(FileDigest, TextBytesAreHashedAsTheyStand) {
  // CR LF must not be folded: the digest is over the file's bytes.
  testsupport::TempFile file("a\r\nb\r\n");
  FileHasher hasher;
  char digest[33] = {0};
  ASSERT_TRUE(hasher.ComputeFileDigest(file.path().c_str(), digest));
  EXPECT_EQ(std::string(digest), Hex("a\r\nb\r\n"));
}

}  // namespace
