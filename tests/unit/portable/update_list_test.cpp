#include "formats/lists/update_list.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "intake/verdict_trace.h"
#include "portable_support.h"

namespace {

std::vector<std::string> Names(const UpdateFileList& list) {
  std::vector<std::string> names;
  for (int i = 0; i < list.entryCount; ++i) names.emplace_back(list.EntryAt(i));
  return names;
}

using Strings = std::vector<std::string>;

// A line read as the updater reads it: the reader's verdicts, traced by the
// start-up.
void Parse(UpdateFileList& list, const char* line, int installedVersion) {
  std::vector<UpdateWord> words;
  list.ParseUpdateLine(line, installedVersion, &words);
  TraceUpdateWords(words);
}

class UpdateList : public ::testing::Test {
 protected:
  void SetUp() override { testsupport::TakeTraces(); }
  UpdateFileList list;
};

TEST_F(UpdateList, NewerLinesAreCollectedOlderOnesNot) {
  Parse(list, "1001 a.dll b.dll", 1000);
  EXPECT_EQ(Names(list), (Strings{"a.dll", "b.dll"}));
  EXPECT_EQ(list.maxVersion, 1001);
  Parse(list, "1000 old.dll", 1000);   // equal: not newer
  Parse(list, "999 older.dll", 1000);  // 9990 is newer
  EXPECT_EQ(Names(list), (Strings{"a.dll", "b.dll", "older.dll"}));
  EXPECT_EQ(list.maxVersion, 9990);
  EXPECT_FALSE(list.selfUpdateMarked);
  EXPECT_FALSE(list.majorUpdateMarked);
  EXPECT_EQ(testsupport::TakeTraces(),
            (Strings{"InsertFileList : a.dll\n\n", "InsertFileList : b.dll\n\n",
                     "InsertFileList : older.dll\n\n"}));
}

TEST_F(UpdateList, VersionsBelow1000CountTenfold) {
  Parse(list, "101 x.dll", 1010);  // 1010: not newer
  EXPECT_EQ(list.entryCount, 0);
  EXPECT_EQ(list.maxVersion, 1000);
  Parse(list, "0105 y.dll", 1049);  // 1050
  EXPECT_EQ(Names(list), (Strings{"y.dll"}));
  EXPECT_EQ(list.maxVersion, 1050);
}

TEST_F(UpdateList, DuplicatesInOtherCaseAndDoubledBlanks) {
  Parse(list, "1001 a.dll", 1000);
  Parse(list, "1002 A.DLL", 1000);
  EXPECT_EQ(Names(list), (Strings{"a.dll"}));
  EXPECT_EQ(list.maxVersion, 1002);
  EXPECT_FALSE(list.InsertFile("A.dll"));
  EXPECT_TRUE(list.InsertFile("a.dl"));
  // Two blanks in a row offer the same word twice; the second is refused.
  UpdateFileList two;
  Parse(two, "1001  c.dll", 1000);
  EXPECT_EQ(Names(two), (Strings{"c.dll"}));
  auto traces = testsupport::TakeTraces();
  EXPECT_EQ(traces.back(), "InsertFileList : c.dll\n\n");
  EXPECT_EQ(traces[traces.size() - 2], "InsertFileList : c.dll\n\n");
}

TEST_F(UpdateList, TabsDoNotSeparateNames) {
  Parse(list, "1001\ta.dll b.dll", 1000);  // a.dll follows no blank
  Parse(list, "1001 c.dll\td.dll e.dll", 1000);
  Parse(list, "1001 \t f.dll", 1000);  // white space after the blank is skipped
  EXPECT_EQ(Names(list), (Strings{"b.dll", "c.dll", "e.dll", "f.dll"}));
}

TEST_F(UpdateList, LinesOutsideTheFormatAreIgnored) {
  for (const char* line : {"", "1001", "1001 ", "abcd x.dll", "v1001 x.dll", "-1001 x.dll",
                           "1001 ", "1001\t\t\t\t", "1001x"}) {
    Parse(list, line, 0);
  }
  EXPECT_EQ(list.entryCount, 0);
  EXPECT_EQ(list.maxVersion, 1000);
  // Short but valid words still need five characters in all.
  Parse(list, "12 ab", 0);
  EXPECT_EQ(Names(list), (Strings{"ab"}));
  // Indented lines: the version is never taken for a name.
  UpdateFileList indented;
  Parse(indented, "  1003 z.dll", 1000);
  EXPECT_EQ(Names(indented), (Strings{"z.dll"}));
  EXPECT_EQ(indented.maxVersion, 1003);
}

TEST_F(UpdateList, MarkersInAnyLetterCase) {
  Parse(list, "1003 x.dll data\\ULMET.EX_ y.dll", 1000);
  EXPECT_EQ(list.selfUpdateMarked, 1);
  EXPECT_EQ(list.majorUpdateMarked, 0);
  EXPECT_EQ(Names(list), (Strings{"x.dll", "data\\ULMET.EX_", "y.dll"}));
  auto traces = testsupport::TakeTraces();
  ASSERT_EQ(traces.size(), 4u);
  EXPECT_EQ(traces[1], "SelfUpdate\n");

  UpdateFileList major;
  Parse(major, "1003 Ulmet_Install.EXE", 1000);
  EXPECT_EQ(major.majorUpdateMarked, 1);
  EXPECT_EQ(major.selfUpdateMarked, 0);
  EXPECT_EQ(testsupport::TakeTraces()[0], "MajorUpdate\n");
  // The self-update name wins over the installer name in one word.
  UpdateFileList b;
  Parse(b, "1003 ulmet.ex_ulmet_install.exe", 1000);
  EXPECT_EQ(b.selfUpdateMarked, 1);
  EXPECT_EQ(b.majorUpdateMarked, 0);
}

TEST_F(UpdateList, LongLinesAndLongNames) {
  // A line of 1023 characters of short names: 203 names of 4 characters
  // and one of 3, each after its blank.
  std::string line = "1001";
  std::vector<std::string> expected;
  for (int i = 0; line.size() + 5 <= 1023; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "%04d", i);
    line += ' ';
    line += name;
    expected.emplace_back(name);
  }
  line += " end";
  expected.emplace_back("end");
  ASSERT_EQ(line.size(), 1023u);
  Parse(list, line.c_str(), 1000);
  EXPECT_EQ(Names(list), expected);

  // One word filling a whole line: stored cut to 260 characters.
  UpdateFileList one;
  const std::string word(1018, 'n');
  Parse(one, ("1001 " + word).c_str(), 1000);
  ASSERT_EQ(one.entryCount, 1);
  EXPECT_EQ(std::string(one.EntryAt(0)), word.substr(0, 260));
  // Names that agree in their first 260 characters are the same entry.
  EXPECT_FALSE(one.InsertFile((word.substr(0, 260) + "other").c_str()));
  // A line longer than one read is still handled without overrun.
  UpdateFileList huge;
  Parse(huge, ("1001 " + std::string(5000, 'q')).c_str(), 1000);
  EXPECT_EQ(huge.entryCount, 1);
}

TEST_F(UpdateList, EntriesLeadingOutOfTheClientFolderAreRefused) {
  Parse(list, 
      "1005 -..\\x = =C:\\Windows \\abs a/../../b /etc/passwd D:x -\\y =..  ok.dll -old.dll "
      "=folder sub\\..\\..\\up ...\\z .. \\\\server\\share\\f a:stream -sub\\.. \\ul\\ulmet.ex_",
      1000);
  EXPECT_EQ(Names(list), (Strings{"ok.dll", "-old.dll", "=folder"}));
  EXPECT_EQ(list.maxVersion, 1005);
  EXPECT_EQ(list.selfUpdateMarked, 0);  // the refused marker name raises nothing
  auto traces = testsupport::TakeTraces();
  std::vector<std::string> refused;
  for (const auto& t : traces) {
    if (t.rfind("Refused update entry : ", 0) == 0) refused.push_back(t);
  }
  EXPECT_EQ(refused.size(), 16u);
  EXPECT_EQ(refused[0], "Refused update entry : -..\\x\n");
  EXPECT_EQ(refused[1], "Refused update entry : =\n");

  // A line whose every entry is refused changes nothing.
  UpdateFileList none;
  Parse(none, "1009 ../x", 1000);
  EXPECT_EQ(none.entryCount, 0);
  EXPECT_EQ(none.maxVersion, 1000);
}

TEST_F(UpdateList, ClearFileListStartsOver) {
  Parse(list, "1007 a.dll", 1000);
  EXPECT_TRUE(list.ClearFileList());
  EXPECT_EQ(list.entryCount, 0);
  EXPECT_EQ(list.maxVersion, 1000);
  EXPECT_TRUE(list.InsertFile("a.dll"));
}

// A list file read as the updater's start-up reads it.
bool ReadFile(UpdateFileList& list, std::FILE* file, int installedVersion,
              const char* localName = "C:\\windows\\Temp\\UpdateList.dat_") {
  std::vector<UpdateWord> words;
  const UpdateListVerdict verdict = list.ReadListFile(file, installedVersion, &words);
  TraceUpdateWords(words);
  TraceUpdateListVerdict(verdict, localName);
  return verdict == kListRead;
}

class UpdateListFile : public UpdateList {
 protected:
  bool Read(const std::string& contents) {
    testsupport::TempFile file(contents);
    return ReadFile(list, file.OpenText(), installedVersion);
  }
  int installedVersion = 1000;
};

TEST_F(UpdateListFile, HeaderChecks) {
  EXPECT_TRUE(Read("[ULMET3.0] anything after the tag\n1001 a.dll\n"));
  EXPECT_EQ(Names(list), (Strings{"a.dll"}));
  list.ClearFileList();
  EXPECT_TRUE(Read("[ULMET]\r\n1001 b.dll\r\n1002 c.dll"));  // CR LF, no final line feed
  EXPECT_EQ(Names(list), (Strings{"b.dll", "c.dll"}));
  EXPECT_EQ(list.maxVersion, 1002);
  list.ClearFileList();
  EXPECT_TRUE(Read("[ULMET3.0]\n"));
  EXPECT_EQ(list.entryCount, 0);
  EXPECT_EQ(list.maxVersion, 1000);
  testsupport::TakeTraces();

  EXPECT_FALSE(Read("ULMET]\n1001 a.dll\n"));
  EXPECT_FALSE(Read("[ulmet]\n1001 a.dll\n"));
  EXPECT_FALSE(Read(" [ULMET]\n1001 a.dll\n"));
  EXPECT_EQ(testsupport::TakeTraces(), Strings(3, "Update List file is invalid file..\n"));
  EXPECT_FALSE(Read(""));
  EXPECT_EQ(testsupport::TakeTraces(),
            (Strings{"[C:\\windows\\Temp\\UpdateList.dat_] file Read failed..\n"}));
  EXPECT_EQ(list.entryCount, 0);
}

TEST_F(UpdateListFile, StopsAfterTheLineOfAMarker) {
  EXPECT_TRUE(Read("[ULMET]\n1003 ulmet.ex_ x.dll\n1004 y.dll\n"));
  EXPECT_EQ(Names(list), (Strings{"ulmet.ex_", "x.dll"}));
  EXPECT_EQ(list.maxVersion, 1003);
  EXPECT_EQ(list.selfUpdateMarked, 1);

  UpdateFileList major;
  testsupport::TempFile file("[ULMET]\n1002 a.dll\n1003 b.dll Ulmet3_Install.exe\n1004 c.dll\n");
  EXPECT_TRUE(ReadFile(major, file.OpenText(), 1000));
  EXPECT_EQ(Names(major), (Strings{"a.dll", "b.dll", "Ulmet3_Install.exe", "c.dll"}));
  EXPECT_EQ(major.majorUpdateMarked, 0);  // "ulmet3_install.exe" is not the marker
  UpdateFileList m;
  testsupport::TempFile f2("[ULMET]\n1003 ULMET_INSTALL.EXE\n1004 c.dll\n");
  EXPECT_TRUE(ReadFile(m, f2.OpenText(), 1000));
  EXPECT_EQ(m.majorUpdateMarked, 1);
  EXPECT_EQ(Names(m), (Strings{"ULMET_INSTALL.EXE"}));
}

TEST_F(UpdateListFile, InstalledVersionDecides) {
  installedVersion = 1002;
  EXPECT_TRUE(Read("[ULMET]\n1001 a.dll\n1002 b.dll\n1003 c.dll\n;1004 d.dll\n99 e.dll\n"));
  EXPECT_EQ(Names(list), (Strings{"c.dll"}));
  EXPECT_EQ(list.maxVersion, 1003);
  // A name line of 1023 characters ends in a line feed read on its own.
  list.ClearFileList();
  const std::string name(1018, 'k');
  EXPECT_TRUE(Read("[ULMET]\n1005 " + name + "\n1006 after.dll\n"));
  EXPECT_EQ(Names(list), (Strings{name.substr(0, 260), "after.dll"}));
}

// CRs before a line feed end the line, a Ctrl-Z ends the file, in both
// builds as in the Windows runtime's text mode.
TEST_F(UpdateList, ReadsLikeTheWindowsTextMode) {
  testsupport::TempFile file("[ULMET]\r\r\n1001 a.dll\x1a b.dll\n1002 c.dll\n");
  EXPECT_TRUE(ReadFile(list, file.OpenText(), 1000));
  EXPECT_EQ(Names(list), (Strings{"a.dll"}));
  EXPECT_EQ(list.maxVersion, 1001);
}

}  // namespace

namespace {

TEST(UpdateEntry, KindNameAndLocalName) {
  struct {
    const char* entry;
    UpdateEntryKind kind;
    const char* name;
    const char* local;
  } const cases[] = {
      {"-old.dll", kEntryDeleteFile, "old.dll", "old.dll"},
      {"-read!me.txt", kEntryDeleteFile, "read!me.txt", "read me.txt"},
      {"=Old!Dir", kEntryDeleteFolder, "Old!Dir", "Old Dir"},
      {"ULMET3_INSTALL.EXE", kEntryInstallerMarker, "ULMET3_INSTALL.EXE", "ULMET3_INSTALL.EXE"},
      {"Ulmet3_install.exe.bak", kEntryFetch, "Ulmet3_install.exe.bak", "Ulmet3_install.exe.bak"},
      {"Sub\\my!file.txt", kEntryFetch, "Sub\\my!file.txt", "Sub\\my file.txt"},
      {"a-b=c", kEntryFetch, "a-b=c", "a-b=c"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ClassifyUpdateEntry(c.entry), c.kind) << c.entry;
    EXPECT_STREQ(UpdateEntryName(c.entry), c.name) << c.entry;
    char local[ul::kPathCap];
    LocalNameOf(UpdateEntryName(c.entry), local);
    EXPECT_STREQ(local, c.local) << c.entry;
  }
}

}  // namespace
