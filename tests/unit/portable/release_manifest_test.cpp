#include "formats/trust/release_manifest.h"

#include <gtest/gtest.h>

#include "formats/trust/release_check.h"
#include "formats/trust/release_roles.h"

#include <string>
#include <vector>

namespace {

const std::string kDigestA(64, 'a');
const std::string kDigestB = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

std::string Manifest(const std::string& body) { return "ulmet-release 1\nversion 1004\n" + body; }

bool Parse(const std::string& text, ul::ReleaseManifest* m) { return m->Parse(text.data(), text.size()); }

TEST(ReleaseManifest, ReadsFilesAndFindsThemUnderEverySpellingOfTheirPath) {
  ul::ReleaseManifest m;
  ASSERT_TRUE(Parse(Manifest("0 " + kDigestA + " /Ulmet3/files/a b.dll\n12 " + kDigestB +
                             " /Ulmet3/files/read!me.txt\n"),
                    &m));
  EXPECT_EQ(m.version, 1004);
  ASSERT_EQ(m.files.size(), 2u);
  EXPECT_EQ(m.files[1].size, 12u);
  EXPECT_EQ(m.files[1].sha256[0], 0x01);
  EXPECT_EQ(m.files[1].sha256[31], 0xef);
  for (const char* spelling : {"/Ulmet3/files/read!me.txt", "Ulmet3\\files\\read!me.txt",
                               "/./Ulmet3//files/./read!me.txt", "\\\\Ulmet3/files\\read!me.txt"}) {
    const ul::ReleaseFile* f = m.Find(spelling);
    ASSERT_NE(f, nullptr) << spelling;
    EXPECT_EQ(f->path, "/Ulmet3/files/read!me.txt");
  }
  EXPECT_NE(m.Find("/Ulmet3/files/a b.dll"), nullptr) << "the path is the rest of the line";
  for (const char* missing : {"/Ulmet3/files/READ!ME.TXT", "/Ulmet3/files/x/../read!me.txt",
                              "/Ulmet3/files", "/", ""})
    EXPECT_EQ(m.Find(missing), nullptr) << missing;
  EXPECT_TRUE(Parse(Manifest(""), &m)) << "a release may list nothing";
  EXPECT_TRUE(m.files.empty());
}

TEST(ReleaseManifest, AnythingButTheOneWellFormedTextIsRefusedWhole) {
  const std::string line = "5 " + kDigestA + " /a\n";
  const std::string later = "5 " + kDigestA + " /b\n";
  const std::vector<std::string> refused = {
      "",
      "ulmet-release 1\n",                                // no version line
      "ulmet-release 2\nversion 1004\n",                  // format 2 without its roles
      "ulmet-release 3\nversion 1004\n",                  // another format
      "ulmet-release 1\nversion 1004",                    // no final line feed
      "ulmet-release 1\r\nversion 1004\r\n",              // CR LF
      "ulmet-release 1\nversion 01004\n",                 // leading zero
      "ulmet-release 1\nversion -1\n",
      "ulmet-release 1\nversion 2147483648\n",            // beyond int32
      "ulmet-release 1\nversion  1004\n",
      Manifest(later + line),                             // not in order
      Manifest(line + line),                              // twice
      Manifest("05 " + kDigestA + " /a\n"),               // leading zero in the size
      Manifest("5 " + kDigestA + " /a//b\n"),             // not a normal path
      Manifest("5 " + kDigestA + " a\n"),
      Manifest("5 " + kDigestA + " /a/./b\n"),
      Manifest("5 " + kDigestA + " /a/../b\n"),
      Manifest("5 " + kDigestA + " \n"),                  // no path
      Manifest("5 " + std::string(64, 'A') + " /a\n"),    // upper-case digest
      Manifest("5 " + std::string(63, 'a') + " /a\n"),
      Manifest("5 " + kDigestA + "/a\n"),
      Manifest("99999999999999999999 " + kDigestA + " /a\n"),
      Manifest("5 " + kDigestA + " /a\tb\n"),             // control character
      Manifest("5 " + kDigestA + std::string(" /a\0b\n", 6)),  // zero byte
      Manifest(line + "\n"),                              // empty line
  };
  for (const std::string& text : refused) {
    ul::ReleaseManifest m;
    ASSERT_TRUE(Parse(Manifest(line), &m));
    EXPECT_FALSE(Parse(text, &m)) << text;
    EXPECT_TRUE(m.files.empty() && m.version == 0) << text;
  }
}

TEST(ReleaseManifest, FormatSortsAndReadsBackTheSameRecords) {
  std::vector<ul::ReleaseFile> files(3);
  files[0].path = "/Ulmet3/files/z.dll";
  files[0].size = 7;
  files[0].sha256[5] = 0xab;
  files[1].path = "/Ulmet3/UpdateList.dat";
  files[2].path = "/Ulmet3/files/\xb0\xa1.txt";  // code page 949
  files[2].size = uint64_t{1} << 40;
  std::string text;
  ASSERT_TRUE(ul::FormatManifest(1002, nullptr, files, &text));
  ul::ReleaseManifest m;
  ASSERT_TRUE(Parse(text, &m)) << text;
  EXPECT_EQ(m.version, 1002);
  ASSERT_EQ(m.files.size(), 3u);
  // Byte order, the bytes taken without sign: code page 949 after ASCII.
  EXPECT_EQ(m.files[0].path, "/Ulmet3/UpdateList.dat");
  EXPECT_EQ(m.files[1].path, "/Ulmet3/files/z.dll");
  EXPECT_EQ(m.files[1].sha256[5], 0xab);
  EXPECT_EQ(m.Find("/Ulmet3/files/\xb0\xa1.txt")->size, uint64_t{1} << 40);

  files[1].path = "/Ulmet3/files/z.dll";
  EXPECT_FALSE(ul::FormatManifest(1002, nullptr, files, &text)) << "a path twice";
  files[1].path = "Ulmet3/UpdateList.dat";
  EXPECT_FALSE(ul::FormatManifest(1002, nullptr, files, &text)) << "not normal";
}

ul::ReleaseRoles TreeRoles() {
  ul::ReleaseRoles r;
  r.programConfig = "/UlLaunch/ULProgram.cfg";
  r.updateList = "/Ulmet3/UpdateList.dat";
  r.hashList = "/Ulmet3/ULHashFile.dat";
  r.entryFolder = "/Ulmet3/files/";  // no installer published
  return r;
}

TEST(ReleaseManifest, RolesAreReadInTheirOrderAndOnlyThere) {
  std::vector<ul::ReleaseFile> files(1);
  files[0].path = "/UlLaunch/global_Ulmet.cfg";
  std::string text;
  const ul::ReleaseRoles roles = TreeRoles();
  ASSERT_TRUE(ul::FormatManifest(1003, &roles, files, &text));
  EXPECT_EQ(text, "ulmet-release 2\nversion 1003\nconfig /UlLaunch/ULProgram.cfg\nlist "
                  "/Ulmet3/UpdateList.dat\nhash /Ulmet3/ULHashFile.dat\ninstaller \nfiles /Ulmet3/files/\n0 " +
                      std::string(64, '0') + " /UlLaunch/global_Ulmet.cfg\n");
  ul::ReleaseManifest m;
  ASSERT_TRUE(Parse(text, &m));
  EXPECT_EQ(m.format, ul::kRoleFormat);
  EXPECT_EQ(ul::DifferingRole(m.roles, TreeRoles()), nullptr);
  ASSERT_EQ(m.files.size(), 1u);

  const std::string head = "ulmet-release 2\nversion 1003\n";
  const std::vector<std::string> refused = {
      head + "config /c\nlist /l\nhash /h\ninstaller /i\n",               // no folder role
      head + "list /l\nconfig /c\nhash /h\ninstaller /i\nfiles /f/\n",    // out of order
      head + "config /c\nlist /l\nhash /h\ninstaller /i\nfiles /f\t/\n",  // control character
      head + "config /c\nlist /l\nhash /h\nfiles /f/\ninstaller /i\n",
      "ulmet-release 1\nversion 1003\nconfig /c\n",                       // roles in format 1
  };
  for (const std::string& bad : refused) EXPECT_FALSE(Parse(bad, &m)) << bad;
  ul::ReleaseRoles tab = TreeRoles();
  tab.installer = "/a\tb";
  EXPECT_FALSE(ul::FormatManifest(1003, &tab, files, &text));
}

TEST(ReleaseManifest, EveryRoleTheConfigurationNamesMustBeTheBoundOne) {
  DirectoryRecord directory;
  ProgramConfig program;
  const ul::ReleaseRoles bound = TreeRoles();
  const struct {
    char (ProgramConfig::*field)[ul::kTextCap];  // null: the directory file's record
    const char* named;
    const char* role;
  } cases[] = {
      {nullptr, "/UlLaunch/Other.cfg", "program configuration"},
      {&ProgramConfig::updateListPath, "/Ulmet3/ULHashFile.dat", "update list"},
      {&ProgramConfig::hashListPath, "/Ulmet3/UpdateList.dat", "hash list"},
      {&ProgramConfig::installerPath, "/Ulmet3/files/Ulmet.ex_", "installer"},
      {&ProgramConfig::updateSubPath, "/Ulmet3/files/Data/", "update folder"},
      {&ProgramConfig::updateSubPath, "/ulmet3/files/", "update folder"},
  };
  for (const auto& c : cases) {
    ul::Copy(directory.programConfigPath, bound.programConfig.c_str());
    ul::Copy(program.updateListPath, bound.updateList.c_str());
    ul::Copy(program.hashListPath, bound.hashList.c_str());
    ul::Copy(program.installerPath, bound.installer.c_str());
    ul::Copy(program.updateSubPath, bound.entryFolder.c_str());
    EXPECT_EQ(ul::DifferingRole(bound, ul::RolesOf(directory, program)), nullptr);
    ul::Copy(c.field != nullptr ? program.*c.field : directory.programConfigPath, c.named);
    EXPECT_STREQ(ul::DifferingRole(bound, ul::RolesOf(directory, program)), c.role) << c.named;
  }
}

TEST(ReleaseManifest, NormalServerPaths) {
  const std::pair<const char*, const char*> cases[] = {
      {"/Ulmet3/UpdateList.dat", "/Ulmet3/UpdateList.dat"},
      {"./UlLaunch/global_Ulmet.cfg", "/UlLaunch/global_Ulmet.cfg"},
      {"Ulmet3\\files\\Data\\Skins.zip", "/Ulmet3/files/Data/Skins.zip"},
      {"//a///b/.", "/a/b"},
      {"/a/.../b", "/a/.../b"},  // only "." and ".." are special here
      {"/a/..", nullptr},
      {"..\\a", nullptr},
      {"/./", nullptr},
      {"", nullptr},
      {"/a\x7f", nullptr},
      {"/a\nb", nullptr},
  };
  for (const auto& c : cases) {
    std::string out;
    EXPECT_EQ(ul::NormalServerPath(c.first, &out), c.second != nullptr) << c.first;
    if (c.second != nullptr) {
      EXPECT_EQ(out, c.second);
    }
  }
  std::string out;
  EXPECT_TRUE(ul::NormalServerPath(("/" + std::string(ul::kTextCap - 2, 'x')).c_str(), &out));
  EXPECT_FALSE(ul::NormalServerPath(("/" + std::string(ul::kTextCap - 1, 'x')).c_str(), &out));
}

TEST(ReleaseManifest, ManifestAndSignatureLieBesideTheUpdateListAndTheDirectoryFile) {
  char launch[ul::kTextCap];
  char launchSignature[ul::kTextCap];
  ul::LaunchReleasePaths(launch, launchSignature);
  EXPECT_STREQ(launch, "/UlLaunch/ULRelease2.dat");
  EXPECT_STREQ(launchSignature, "/UlLaunch/ULRelease2.sig");
  const char* cases[][3] = {
      {"/Ulmet3/UpdateList.dat", "/Ulmet3/ULRelease.dat", "/Ulmet3/ULRelease.sig"},
      {"Ulmet3\\sub/list.txt", "Ulmet3\\sub/ULRelease.dat", "Ulmet3\\sub/ULRelease.sig"},
      {"/a/b\\list", "/a/b\\ULRelease.dat", "/a/b\\ULRelease.sig"},
      {"list.dat", "ULRelease.dat", "ULRelease.sig"},
  };
  for (const auto& c : cases) {
    char manifest[ul::kTextCap];
    char signature[ul::kTextCap];
    ASSERT_TRUE(ul::ReleaseFilePaths(c[0], manifest, signature)) << c[0];
    EXPECT_STREQ(manifest, c[1]);
    EXPECT_STREQ(signature, c[2]);
  }
  char manifest[ul::kTextCap];
  char signature[ul::kTextCap];
  EXPECT_FALSE(ul::ReleaseFilePaths((std::string(ul::kTextCap - 10, 'x') + "/l").c_str(), manifest,
                                    signature));
}

TEST(ReleaseManifest, KeyAndSignatureLines) {
  uint8_t key[ul::kP256KeyBytes];
  for (std::size_t i = 0; i < sizeof key; ++i) key[i] = static_cast<uint8_t>(i * 7);
  const std::string line = ul::FormatPublicKey(key);
  uint8_t back[ul::kP256KeyBytes] = {0};
  ASSERT_TRUE(ul::ParsePublicKey(line, back));
  EXPECT_EQ(std::string(back, back + sizeof back), std::string(key, key + sizeof key));
  EXPECT_TRUE(ul::ParsePublicKey(line.substr(0, line.size() - 1) + "\r\n", back));
  for (const std::string& bad : {line.substr(1), line.substr(0, line.size() - 2),
                                 line + "00", "ulmet-p256-private" + line.substr(17), std::string()})
    EXPECT_FALSE(ul::ParsePublicKey(bad, back)) << bad;

  uint8_t rs[ul::kP256SignatureBytes];
  const std::string sig = ul::FormatSignature(key);
  EXPECT_EQ(sig.size(), 129u);
  ASSERT_TRUE(ul::ParseSignature(sig, rs));
  EXPECT_TRUE(ul::ParseSignature(sig.substr(0, 128), rs));
  EXPECT_FALSE(ul::ParseSignature(sig.substr(0, 126) + "\n", rs));
  EXPECT_FALSE(ul::ParseSignature("zz" + sig.substr(2), rs));
}

}  // namespace
