#include "formats/lists/program_config.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "portable_support.h"

namespace {

// The keys that "exist" for a test, per hive, and the questions asked.
struct KeyTable {
  std::vector<std::pair<int, std::string>> keys;
  std::vector<std::pair<int, std::string>> asked;
};
KeyTable* table = nullptr;

bool TableKeyExists(const char* path, const char* subPath, int hive) {
  EXPECT_EQ(subPath, nullptr);
  table->asked.emplace_back(hive, path);
  for (const auto& k : table->keys) {
    if (k.first == hive && k.second == path) return true;
  }
  return false;
}

class ProgramConfigFile : public ::testing::Test {
 protected:
  void SetUp() override { table = &keys; }
  void TearDown() override { table = nullptr; }

  bool Parse(const std::string& contents, ::ProgramConfig& config, bool isVista = false) {
    testsupport::TempFile file(contents);
    std::FILE* f = file.OpenText();
    EXPECT_NE(f, nullptr);
    return ParseProgramConfig(f, isVista, &TableKeyExists, &config);
  }

  KeyTable keys;
};

TEST_F(ProgramConfigFile, EverySectionFillsItsField) {
  keys.keys = {{2, "Software\\Ulmet"}};
  ::ProgramConfig c;
  EXPECT_TRUE(Parse("; program configuration\n"
                    "[INSTANCENUMBER]\n5001\n"
                    "[PATCHWELL]\nanything at all\n"
                    "[UPDATESUBPATH]\n/Ulmet/Update/\n"
                    "[UPDATELIST]\n/Ulmet/UpdateList.dat\n"
                    "[CHECKUP]\n0\n"
                    "[CHECKUPNOTICE]\nhttp://www.example/notice?a=1&b=%20\n"
                    "[REGISTRY]\nHK_LOCAL_MACHINE\n"
                    "[REGISTRYULMETPATH]\nSoftware\\Ulmet\n"
                    "[REGISTRYNEWPATH]\nSoftware\\ULMET3\n"
                    "[REGISTRYPATH]\nSoftware\\Zolte\\ULMET3\n"
                    "[REGISTRYKEY]\nPatchPath\n"
                    "[EXCEPTION]\n1\n"
                    "[EXCEPTIONHOST]\nreport.example\n"
                    "[EXCEPTIONPATH]\n/crash/post.php\n"
                    "[INSTALLVERSION]\n/Ulmet/Ulmet3_install.exe\n"
                    "[FILEHASH]\n/Ulmet/ULHashFile.dat\n"
                    "[CHUNKLIST]\n/Ulmet/chunks/ULChunkList.dat\n"
                    "[PATCHLIST]\n/Ulmet/patches/ULPatchList.dat\n",
                    c));
  EXPECT_STREQ(c.updateSubPath, "/Ulmet/Update/");
  EXPECT_STREQ(c.updateListPath, "/Ulmet/UpdateList.dat");
  EXPECT_EQ(c.checkupMode, 0);
  EXPECT_STREQ(c.checkupNotice, "http://www.example/notice?a=1&b=%20");
  EXPECT_EQ(c.registryHive, 2);
  EXPECT_STREQ(c.clientRegistryKey, "Software\\Ulmet");
  EXPECT_STREQ(c.registryNewPath, "Software\\ULMET3");
  EXPECT_STREQ(c.registryPath, "Software\\Zolte\\ULMET3");
  EXPECT_STREQ(c.updaterPathValueName, "PatchPath");
  EXPECT_EQ(c.crashReportEnabled, 1);
  EXPECT_STREQ(c.crashReportHost, "report.example");
  EXPECT_STREQ(c.crashReportPath, "/crash/post.php");
  EXPECT_STREQ(c.installerPath, "/Ulmet/Ulmet3_install.exe");
  EXPECT_STREQ(c.hashListPath, "/Ulmet/ULHashFile.dat");
  EXPECT_STREQ(c.chunkListPath, "/Ulmet/chunks/ULChunkList.dat");
  EXPECT_STREQ(c.patchListPath, "/Ulmet/patches/ULPatchList.dat");
  // Asked in the hive chosen before; once a key is chosen the two fallback
  // sections do not ask at all.
  ASSERT_EQ(keys.asked.size(), 1u);
  EXPECT_EQ(keys.asked[0], std::make_pair(2, std::string("Software\\Ulmet")));
}

TEST_F(ProgramConfigFile, EmptyOrCommentOnlyFilesChangeNothing) {
  for (const char* text : {"", ";a\n;b\n", ";no line feed"}) {
    ::ProgramConfig c;
    EXPECT_TRUE(Parse(text, c)) << text;
    EXPECT_STREQ(c.updateListPath, "");
    EXPECT_EQ(c.registryHive, 1);
    EXPECT_EQ(c.checkupMode, 0);
  }
}

TEST_F(ProgramConfigFile, FailingValuesStopTheReadingAndKeepEarlierFields) {
  struct Case {
    const char* text;
    bool result;
  };
  const Case cases[] = {
      {"[INSTANCENUMBER]\n5002\n", false},
      {"[INSTANCENUMBER]\n5001\n", true},
      {"[INSTANCENUMBER]\n 5001 extra\n", true},
      {"[CHECKUP]\n3\n", false},
      {"[CHECKUP]\n-1\n", false},
      {"[CHECKUP]\n2\n", true},
      {"[REGISTRY]\nHKEY_LOCAL_MACHINE\n", false},
      {"[REGISTRY]\nHK_LOCAL_MACHINE \n", false},  // exact text only
      {"[REGISTRY]\nhk_current_user\n", false},
  };
  for (const Case& k : cases) {
    ::ProgramConfig c;
    EXPECT_EQ(Parse(std::string("[UPDATELIST]\n/list\n") + k.text + "[UPDATESUBPATH]\n/sub/\n", c),
              k.result)
        << k.text;
    EXPECT_STREQ(c.updateListPath, "/list");
    // The section after a failing one is never applied.
    EXPECT_STREQ(c.updateSubPath, k.result ? "/sub/" : "") << k.text;
  }
  // A header as the last line of the file, with or without its line feed.
  for (const char* end : {"[FILEHASH]", "[FILEHASH]\n", "[FILEHASH]\r\n"}) {
    ::ProgramConfig d;
    EXPECT_FALSE(Parse(std::string("[UPDATELIST]\n/list\n") + end, d)) << end;
    EXPECT_STREQ(d.updateListPath, "/list");
  }
  ::ProgramConfig e;
  EXPECT_TRUE(Parse("[CHECKUP]\n2\n", e));
  EXPECT_EQ(e.checkupMode, 2);
}

TEST_F(ProgramConfigFile, VistaAlwaysUsesCurrentUser) {
  for (const char* value : {"HK_LOCAL_MACHINE", "HK_CURRENT_USER", "nonsense"}) {
    ::ProgramConfig vista;
    vista.registryHive = 2;
    EXPECT_TRUE(Parse(std::string("[REGISTRY]\n") + value + "\n", vista, true)) << value;
    EXPECT_EQ(vista.registryHive, 1) << value;
  }
  ::ProgramConfig other;
  EXPECT_FALSE(Parse("[REGISTRY]\nnonsense\n", other));
  ::ProgramConfig machine;
  EXPECT_TRUE(Parse("[REGISTRY]\nHK_LOCAL_MACHINE\n", machine));
  EXPECT_EQ(machine.registryHive, 2);
  ::ProgramConfig user;
  user.registryHive = 2;
  EXPECT_TRUE(Parse("[REGISTRY]\nHK_CURRENT_USER\n", user));
  EXPECT_EQ(user.registryHive, 1);
}

TEST_F(ProgramConfigFile, ClientKeyChoiceFollowsOrderAndExistence) {
  keys.keys = {{1, "Key\\First"}, {1, "Key\\Second"}, {1, "Key\\Third"}};
  ::ProgramConfig c;
  EXPECT_TRUE(Parse("[REGISTRYPATH]\nKey\\First\n"
                    "[REGISTRYNEWPATH]\nKey\\Second\n",
                    c));
  EXPECT_STREQ(c.clientRegistryKey, "Key\\First");
  EXPECT_STREQ(c.registryNewPath, "Key\\Second");
  EXPECT_TRUE(Parse("[REGISTRYULMETPATH]\nKey\\Third\n", c));
  EXPECT_STREQ(c.clientRegistryKey, "Key\\Third");
  // A missing key changes no choice but still sets its own field.
  EXPECT_TRUE(Parse("[REGISTRYULMETPATH]\nKey\\Missing\n[REGISTRYPATH]\nKey\\Missing2\n", c));
  EXPECT_STREQ(c.clientRegistryKey, "Key\\Third");
  EXPECT_STREQ(c.registryPath, "Key\\Missing2");

  ::ProgramConfig d;
  EXPECT_TRUE(Parse("[REGISTRYNEWPATH]\nKey\\Missing\n[REGISTRYPATH]\nKey\\Second\n", d));
  EXPECT_STREQ(d.clientRegistryKey, "Key\\Second");

  // Without a key check nothing exists.
  ::ProgramConfig e;
  testsupport::TempFile file("[REGISTRYPATH]\nKey\\First\n");
  EXPECT_TRUE(ParseProgramConfig(file.OpenText(), false, nullptr, &e));
  EXPECT_STREQ(e.clientRegistryKey, "");
  EXPECT_STREQ(e.registryPath, "Key\\First");
}

TEST_F(ProgramConfigFile, RegistrySectionCountsOnlyForTheSectionsAfterIt) {
  keys.keys = {{2, "Software\\Ulmet"}};
  ::ProgramConfig c;
  EXPECT_TRUE(Parse("[REGISTRYULMETPATH]\nSoftware\\Ulmet\n"
                    "[REGISTRY]\nHK_LOCAL_MACHINE\n",
                    c));
  EXPECT_STREQ(c.clientRegistryKey, "");
  ASSERT_EQ(keys.asked.size(), 1u);
  EXPECT_EQ(keys.asked[0].first, 1);
  EXPECT_TRUE(Parse("[REGISTRYULMETPATH]\nSoftware\\Ulmet\n", c));
  EXPECT_STREQ(c.clientRegistryKey, "Software\\Ulmet");
}

TEST_F(ProgramConfigFile, CommentsHeadersAndValuesAsTheyStand) {
  ::ProgramConfig c;
  EXPECT_TRUE(Parse("[UPDATELIST]\n;between header and value\n;another\n/a b/%s%n.dat \n"
                    "[EXCEPTION]\n2\n"
                    "[updatelist]\n/lower\n"         // case matters: ignored
                    " [FILEHASH]\n/indented\n"       // blanks matter: ignored
                    "[FILEHASH] \n/trailing\n"
                    "[UNKNOWN]\n/unknown\n"
                    "[CHECKUPNOTICE]\n[FILEHASH]\n/after\n",  // a value is never a header
                    c));
  EXPECT_STREQ(c.updateListPath, "/a b/%s%n.dat ");
  EXPECT_EQ(c.crashReportEnabled, 0);
  EXPECT_STREQ(c.hashListPath, "");
  EXPECT_STREQ(c.checkupNotice, "[FILEHASH]");

  // Twice: the later value wins.
  ::ProgramConfig d;
  EXPECT_TRUE(Parse("[EXCEPTION]\n1\n[UPDATELIST]\n/one\n[EXCEPTION]\n0\n[UPDATELIST]\n/two\n", d));
  EXPECT_STREQ(d.updateListPath, "/two");
  EXPECT_EQ(d.crashReportEnabled, 0);

  // Comments after the header until the end of the file leave an empty value.
  ::ProgramConfig e;
  std::strcpy(e.updateListPath, "/before");
  EXPECT_TRUE(Parse("[UPDATELIST]\n;c\n;c\n", e));
  EXPECT_STREQ(e.updateListPath, "");
  ::ProgramConfig f;
  EXPECT_FALSE(Parse("[INSTANCENUMBER]\n;c\n", f));
}

TEST_F(ProgramConfigFile, CrLfLongValuesAndPieces) {
  ::ProgramConfig c;
  EXPECT_TRUE(Parse("[INSTANCENUMBER]\r\n5001\r\n[REGISTRY]\r\nHK_LOCAL_MACHINE\r\n"
                    "[UPDATELIST]\r\n/list\r\n",
                    c));
  EXPECT_EQ(c.registryHive, 2);
  EXPECT_STREQ(c.updateListPath, "/list");

  // A value of 1500 characters: the first 1023 are the value; the rest is a
  // line of its own, read as a header when it looks like one.
  const std::string head(1023, 'v');
  ::ProgramConfig d;
  EXPECT_TRUE(Parse("[UPDATESUBPATH]\n" + head + "[FILEHASH]\n/hash\n", d));
  EXPECT_EQ(std::string(d.updateSubPath), head);
  EXPECT_STREQ(d.hashListPath, "/hash");
  ::ProgramConfig e;
  EXPECT_TRUE(Parse("[UPDATESUBPATH]\n" + std::string(1500, 'w') + "\n[UPDATELIST]\n/l\n", e));
  EXPECT_EQ(std::string(e.updateSubPath), std::string(1023, 'w'));
  EXPECT_STREQ(e.updateListPath, "/l");
  // 1022 characters and the line feed fit in one read.
  ::ProgramConfig f;
  EXPECT_TRUE(Parse("[UPDATESUBPATH]\r\n" + std::string(1022, 'x') + "\r\n[UPDATELIST]\r\n/l\r\n", f));
  EXPECT_EQ(std::string(f.updateSubPath), std::string(1022, 'x'));
  EXPECT_STREQ(f.updateListPath, "/l");
}

// CRs before a line feed end the line, a Ctrl-Z ends the file, in both
// builds as in the Windows runtime's text mode.
TEST_F(ProgramConfigFile, ReadsLikeTheWindowsTextMode) {
  ::ProgramConfig c;
  EXPECT_TRUE(Parse("[UPDATELIST]\r\r\n/list\r\r\n[CHECKUP]\r\n2\x1a\n[UPDATESUBPATH]\n/sub/\n", c));
  EXPECT_STREQ(c.updateListPath, "/list");
  EXPECT_EQ(c.checkupMode, 2);
  EXPECT_STREQ(c.updateSubPath, "");
}

}  // namespace

// "[PACE]": words in pairs, each number within its range or the default;
// digest reads in whole 32 KB chunks; without the section, today's reads.
TEST(PaceSection, WordsInPairsWithinTheirRanges) {
  const struct {
    const char* value;
    uint32_t download, digest, reread;
  } rows[] = {
      {"download 1048576 digest 4194304 reread 1000", 1048576, 4194304, 1000},
      {"reread 250 download 65536", 65536, 32768, 250},
      {"download 4095 digest 32767 reread 60001", 4096, 32768, 0},
      {"download 4194305 digest 16777217", 4096, 32768, 0},
      {"digest 100000", 4096, 98304, 0},
      {"download -5 digest 0x8000 reread", 4096, 32768, 0},
      {"speed 9 download 8192", 8192, 32768, 0},
      {"", 4096, 32768, 0},
  };
  for (const auto& row : rows) {
    Pace pace;
    ParsePaceValue(row.value, &pace);
    EXPECT_TRUE(pace.given) << row.value;
    EXPECT_EQ(pace.downloadBytes, row.download) << row.value;
    EXPECT_EQ(pace.digestBytes, row.digest) << row.value;
    EXPECT_EQ(pace.rereadMs, row.reread) << row.value;
  }
  ::ProgramConfig none;
  testsupport::TempFile file("[INSTANCENUMBER]\n5001\n");
  ASSERT_TRUE(ParseProgramConfig(file.OpenText(), false, nullptr, &none));
  EXPECT_FALSE(none.pace.given);
  EXPECT_EQ(none.pace.downloadBytes, 4096u);
  EXPECT_EQ(none.pace.digestBytes, 32768u);
  testsupport::TempFile paced("[PACE]\ndownload 8192\n[CHECKUP]\n0\n");
  ::ProgramConfig some;
  ASSERT_TRUE(ParseProgramConfig(paced.OpenText(), false, nullptr, &some));
  EXPECT_EQ(some.pace.downloadBytes, 8192u);
}
