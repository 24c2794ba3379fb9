// The operators' tool signs and the updater's checks accept only that:
// natively with OpenSSL, and under Wine with Windows' CNG and bcrypt.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "formats/trust/release_check.h"
#include "formats/trust/release_crypto.h"
#include "system/crypto.h"
#include "system/key.h"
#include "commands/manifest.h"

namespace {

namespace fs = std::filesystem;

ulp::KeyPair NewKey() {
  ulp::KeyPair key;
  std::string error;
  EXPECT_TRUE(ulp::MakeKeyPair(&key, &error)) << error;
  return key;
}

TEST(ReleaseSigning, OnlyTheKeysOwnSignatureOverTheSameBytesChecksOut) {
  const ulp::KeyPair a = NewKey();
  const ulp::KeyPair b = NewKey();
  ulp::KeyPair read;
  ASSERT_TRUE(ulp::ParsePrivateKey(ulp::FormatPrivateKey(a), &read));
  EXPECT_EQ(ul::FormatPublicKey(read.publicKey), ul::FormatPublicKey(a.publicKey));

  const std::string text = "ulmet-release 1\nversion 1000\n";
  uint8_t rs[ul::kP256SignatureBytes];
  std::string error;
  ASSERT_TRUE(ulp::SignP256(read, text.data(), text.size(), rs, &error)) << error;
  EXPECT_TRUE(ul::VerifyP256(a.publicKey, text.data(), text.size(), rs));
  EXPECT_FALSE(ul::VerifyP256(b.publicKey, text.data(), text.size(), rs));
  EXPECT_FALSE(ul::VerifyP256(a.publicKey, text.data(), text.size() - 1, rs));
  rs[10] ^= 0x40;
  EXPECT_FALSE(ul::VerifyP256(a.publicKey, text.data(), text.size(), rs));

  ulp::KeyPair mixed = a;  // a's private half with b's public half
  std::copy(b.publicKey, b.publicKey + ul::kP256KeyBytes, mixed.publicKey);
  EXPECT_FALSE(ulp::SignP256(mixed, text.data(), text.size(), rs, &error));
}

void Write(const fs::path& file, const std::string& bytes) {
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << bytes;
}

TEST(ReleaseSigning, SignedTreeChecksOutAndEachServedFileAgainstIt) {
  const fs::path tree = fs::temp_directory_path() / ("ul_sign_" + std::to_string(std::rand()));
  Write(tree / "UlLaunch/global_Ulmet.cfg", "5001\nhost\n80\n/UlLaunch/ULProgram.cfg\n");
  Write(tree / "UlLaunch/ULProgram.cfg", "[UPDATESUBPATH]\n/U/files/\n[UPDATELIST]\n/U/list.dat\n"
                                        "[FILEHASH]\n/U/hash.dat\n[INSTALLVERSION]\n/U/missing.exe\n");
  Write(tree / "U/list.dat", "[ULMET]\n1001 a.dll Ulmet.ex_\n1002 Data\\b!c.txt\n");
  Write(tree / "U/hash.dat", "a.dll:1:0123456789abcdef0123456789abcdef:.\\\n");
  Write(tree / "U/files/a.dll", "a");
  Write(tree / "U/files/Ulmet.ex_", "new copy");
  Write(tree / "U/files/Data/b!c.txt", "");

  const ulp::KeyPair key = NewKey();
  ulp::ReleasePlan plan;
  ulp::SignReport report;
  std::string error;
  ASSERT_TRUE(ulp::PlanRelease(tree.string(), &plan, &error)) << error;
  ASSERT_TRUE(ulp::SignRelease(tree.string(), plan, key, &report, &error)) << error;
  EXPECT_EQ(report.version, 1002) << "every line counts, also those after the new copy";

  std::string manifest, signature;
  ASSERT_TRUE(ulp::ReadWholeFile((tree / "U/ULRelease.dat").string(), 1 << 20, &manifest));
  ASSERT_TRUE(ulp::ReadWholeFile((tree / "U/ULRelease.sig").string(), 4096, &signature));
  const std::string pub = ul::FormatPublicKey(key.publicKey);
  ul::ReleaseManifest m;
  ASSERT_EQ(ul::CheckRelease(pub.c_str(), manifest, signature, ul::kLegacyFormat, 1002, &m), 0);
  std::vector<std::string> paths;
  for (const auto& f : m.files) paths.push_back(f.path);
  EXPECT_EQ(paths, (std::vector<std::string>{"/U/files/Data/b!c.txt", "/U/files/Ulmet.ex_",
                                             "/U/files/a.dll", "/U/hash.dat", "/U/list.dat",
                                             "/UlLaunch/ULProgram.cfg", "/UlLaunch/global_Ulmet.cfg"}));

  // Beside the directory file: the same records, and the roles the
  // configuration names.
  std::string launch, launchSignature;
  ASSERT_TRUE(ulp::ReadWholeFile((tree / "UlLaunch/ULRelease2.dat").string(), 1 << 20, &launch));
  ASSERT_TRUE(ulp::ReadWholeFile((tree / "UlLaunch/ULRelease2.sig").string(), 4096, &launchSignature));
  ul::ReleaseManifest roles;
  ASSERT_EQ(ul::CheckRelease(pub.c_str(), launch, launchSignature, ul::kRoleFormat, -1, &roles), 0);
  EXPECT_EQ(roles.files.size(), m.files.size());
  EXPECT_EQ(roles.roles.programConfig, "/UlLaunch/ULProgram.cfg");
  EXPECT_EQ(roles.roles.entryFolder, "/U/files/");
  EXPECT_EQ(roles.roles.installer, "/U/missing.exe");
  EXPECT_EQ(ul::CheckRelease(pub.c_str(), launch, launchSignature, ul::kLegacyFormat, -1, &roles),
            ul::kReleaseBadSignature)
      << "the updater takes the manifest beside the directory file only with its roles";
  EXPECT_TRUE(ul::FileMatchesRelease(m, "/U/files/Data\\b!c.txt", (tree / "U/files/Data/b!c.txt").string().c_str()));
  EXPECT_TRUE(ul::FileMatchesRelease(m, "/U/list.dat", (tree / "U/list.dat").string().c_str()));
  // A request the release does not list is refused whatever its bytes,
  // also with those of a file it does list.
  EXPECT_FALSE(ul::FileMatchesRelease(m, "/U/other/a.dll", (tree / "U/files/a.dll").string().c_str()));
  EXPECT_FALSE(ul::FileMatchesRelease(m, "/U/files/", (tree / "U/files/a.dll").string().c_str()));
  Write(tree / "U/files/a.dll", "b");
  EXPECT_FALSE(ul::FileMatchesRelease(m, "/U/files/a.dll", (tree / "U/files/a.dll").string().c_str()));
  EXPECT_EQ(ul::CheckRelease(pub.c_str(), manifest, signature, ul::kLegacyFormat, 1003, &m), ul::kReleaseOlder);

  // Signing again replaces both files whole.
  ASSERT_TRUE(ulp::SignRelease(tree.string(), plan, key, &report, &error)) << error;
  ASSERT_TRUE(ulp::ReadWholeFile((tree / "U/ULRelease.dat").string(), 1 << 20, &manifest));
  ASSERT_TRUE(ulp::ReadWholeFile((tree / "U/ULRelease.sig").string(), 4096, &signature));
  ASSERT_EQ(ul::CheckRelease(pub.c_str(), manifest, signature, ul::kLegacyFormat, -1, &m), 0);
  EXPECT_TRUE(ul::FileMatchesRelease(m, "/U/files/a.dll", (tree / "U/files/a.dll").string().c_str()));
  std::error_code ec;
  fs::remove_all(tree, ec);
}

}  // namespace
