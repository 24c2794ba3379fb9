// Windows' bcrypt behind the release checks: a manifest signed by the
// native tool (OpenSSL) with the test key checks out, and one flipped byte
// in it or in its signature does not; SHA-256 fed in pieces.
#include "formats/trust/release_crypto.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "formats/trust/release_check.h"
#include "formats/trust/release_manifest.h"

namespace {

std::string ReadKeyFile(const char* name) {
  std::ifstream in(std::string(ULMET_TEST_KEYS) + "/" + name, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

std::string Hex(const std::string& text) {
  uint8_t digest[ul::kSha256Bytes];
  ul::Sha256 sha;
  for (std::size_t at = 0; at < text.size(); at += 1000)  // in pieces
    EXPECT_TRUE(sha.Update(text.data() + at, std::min<std::size_t>(1000, text.size() - at)));
  return sha.Finish(digest) ? ul::Hex(digest, sizeof digest) : "failed";
}

TEST(ReleaseCrypto, Sha256InPieces) {
  ASSERT_TRUE(ul::ReleaseCryptoAvailable());
  EXPECT_EQ(Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(Hex(std::string(1000000, 'a')),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(ReleaseCrypto, ChecksTheNativeToolsSignatureAndRefusesAFlippedByte) {
  const std::string key = ReadKeyFile("test-release.pub");
  const std::string manifest = ReadKeyFile("signed-manifest.dat");
  const std::string signature = ReadKeyFile("signed-manifest.sig");
  ASSERT_FALSE(manifest.empty());
  ul::ReleaseManifest read;
  ASSERT_EQ(ul::CheckRelease(key.c_str(), manifest, signature, ul::kLegacyFormat, -1, &read), 0);
  EXPECT_GT(read.files.size(), 3u);
  for (std::size_t at : {std::size_t{0}, manifest.size() / 2, manifest.size() - 2}) {
    std::string flipped = manifest;
    flipped[at] ^= 0x01;
    EXPECT_EQ(ul::CheckRelease(key.c_str(), flipped, signature, ul::kLegacyFormat, -1, &read), ul::kReleaseBadSignature) << at;
    EXPECT_TRUE(read.files.empty());
  }
  for (std::size_t at : {std::size_t{0}, std::size_t{64}, std::size_t{127}}) {
    std::string flipped = signature;
    flipped[at] = flipped[at] == '0' ? '1' : '0';
    EXPECT_EQ(ul::CheckRelease(key.c_str(), manifest, flipped, ul::kLegacyFormat, -1, &read), ul::kReleaseBadSignature) << at;
  }
  EXPECT_EQ(ul::CheckRelease(ReadKeyFile("other-release.pub").c_str(), manifest, signature, ul::kLegacyFormat, -1, &read),
            ul::kReleaseBadSignature);
}

}  // namespace
