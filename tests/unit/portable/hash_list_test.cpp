#include "formats/lists/hash_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "intake/verdict_trace.h"
#include "portable_support.h"

namespace {

const char kDigest[] = "0123456789abcdef0123456789abcdef";

// Read as the updater's start-up reads it: the refusals traced, the entries
// appended.
bool Parse(const std::string& contents, std::vector<HashEntry>& entries) {
  testsupport::TempFile file(contents);
  HashList list;
  const bool any = ParseHashList(file.OpenText(), &list);
  TraceRefusedHashLines(list.refused);
  entries.insert(entries.end(), list.entries.begin(), list.entries.end());
  return any;
}

std::vector<std::string> Files(const std::vector<HashEntry>& entries) {
  std::vector<std::string> names;
  for (const HashEntry& e : entries) names.push_back(std::string(e.subPath) + e.fileName);
  return names;
}

using Strings = std::vector<std::string>;

TEST(HashList, FieldsCommentsAndSeparators) {
  std::vector<HashEntry> e;
  EXPECT_TRUE(Parse(std::string(";comment\n") + "UlmetMain.exe:1:" + kDigest + ":.\\\r\n" +
                        ";another comment\n" + "::data.pak::: 12abc :" + kDigest + "::data\\:extra\n" +
                        "UPPER.dll:3:0123456789ABCDEF0123456789ABCDEF:bin\\\n",
                    e));
  ASSERT_EQ(e.size(), 3u);
  EXPECT_STREQ(e[0].fileName, "UlmetMain.exe");
  EXPECT_EQ(e[0].entryNumber, 1);
  EXPECT_STREQ(e[0].digestHex, kDigest);
  EXPECT_STREQ(e[0].subPath, ".\\");
  EXPECT_EQ(e[0].status, 0);
  // Runs of ':' are one separator, leading ones are skipped, a fifth field
  // is ignored, and the number is read like atoi.
  EXPECT_STREQ(e[1].fileName, "data.pak");
  EXPECT_EQ(e[1].entryNumber, 12);
  EXPECT_STREQ(e[1].subPath, "data\\");
  // Digests are kept as they stand; an upper-case one can never match.
  EXPECT_STREQ(e[2].digestHex, "0123456789ABCDEF0123456789ABCDEF");
}

TEST(HashList, MalformedLineEndsTheReading) {
  const std::string good = std::string("a.dll:1:") + kDigest + ":sub\\\n";
  const std::string after = std::string("z.dll:9:") + kDigest + ":sub\\\n";
  const char* stoppers[] = {
      "b.dll:0:0123:sub\\\n",    // entry number 0
      "b.dll:x:0123:sub\\\n",    // not a number: 0
      "b.dll:2:0123:\n",         // empty sub-folder: three fields
      "b.dll:2:0123\n",          // three fields
      "\n",                      // empty line
      "b.dll 2 0123 sub\n",      // no separators
  };
  for (const char* stopper : stoppers) {
    std::vector<HashEntry> e;
    EXPECT_TRUE(Parse(good + stopper + after, e)) << stopper;
    EXPECT_EQ(Files(e), (Strings{"sub\\a.dll"})) << stopper;
    std::vector<HashEntry> first;
    EXPECT_FALSE(Parse(std::string(stopper) + good, first)) << stopper;
    EXPECT_TRUE(first.empty());
  }
  std::vector<HashEntry> none;
  EXPECT_FALSE(Parse("", none));
  EXPECT_FALSE(Parse(";only\n;comments\n", none));
  EXPECT_TRUE(none.empty());
}

TEST(HashList, FieldsAreCutToTheirSizes) {
  const std::string longName(300, 'n'), longSub(300, 's');
  std::vector<HashEntry> e;
  EXPECT_TRUE(Parse(longName + ":5:" + kDigest + "ffffffff:" + longSub + "\n", e));
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(std::string(e[0].fileName), longName.substr(0, 260));
  EXPECT_STREQ(e[0].digestHex, kDigest);
  EXPECT_EQ(std::string(e[0].subPath), longSub.substr(0, 260));
}

TEST(HashList, LongLinesArriveInPieces) {
  // 1500 characters: the first 1023 are one line without separators.
  std::vector<HashEntry> e;
  EXPECT_FALSE(Parse(std::string(1400, 'n') + ":1:" + kDigest + ":s\\\n", e));
  // A line of 1022 characters and its line feed is read whole; one of 1023
  // leaves its line feed as an empty line, which ends the reading.
  const std::string tail = std::string(":1:") + kDigest + ":s\\";
  const std::string line1022 = std::string(1022 - tail.size(), 'a') + tail;
  const std::string line1023 = std::string(1023 - tail.size(), 'b') + tail;
  std::vector<HashEntry> f;
  EXPECT_TRUE(Parse(line1022 + "\n" + line1022 + "\r\n" + line1023 + "\n" + "c:1:" + kDigest + ":s\\\n", f));
  // Both 1022 lines (duplicates are kept) and the 1023 line; "c" is never read.
  ASSERT_EQ(f.size(), 3u);
  EXPECT_EQ(std::string(f[0].fileName), std::string(260, 'a'));
  EXPECT_STREQ(f[1].subPath, "s\\");
  EXPECT_EQ(std::string(f[2].fileName), std::string(260, 'b'));
}

TEST(HashList, EntriesLeadingOutOfTheClientFolderArePassedOver) {
  testsupport::TakeTraces();
  std::vector<HashEntry> e;
  EXPECT_TRUE(Parse(std::string("..\\evil.exe:1:") + kDigest + ":sub\\\n" +
                        "\\abs.exe:2:" + kDigest + ":sub\\\n" +
                        "ok.dll:3:" + kDigest + ":..\\..\\\n" +
                        "ok.dll:4:" + kDigest + ":data\\\n" +
                        "root.dll:5:" + kDigest + ":\\\n" +
                        "a/../../b:6:" + kDigest + ":x\\\n",
                    e));
  EXPECT_EQ(Files(e), (Strings{"data\\ok.dll", "\\root.dll"}));
  auto traces = testsupport::TakeTraces();
  ASSERT_EQ(traces.size(), 4u);
  EXPECT_EQ(traces[0], std::string("Refused hash entry : ..\\evil.exe:1:") + kDigest + ":sub\\\n");
  // Only refused lines: nothing read.
  std::vector<HashEntry> none;
  EXPECT_FALSE(Parse(std::string("..\\x:1:") + kDigest + ":s\\\n", none));
}

// CRs before a line feed end the line, a Ctrl-Z ends the file, in both
// builds as in the Windows runtime's text mode.
TEST(HashList, ReadsLikeTheWindowsTextMode) {
  std::vector<HashEntry> e;
  EXPECT_TRUE(Parse(std::string("a.dll:1:") + kDigest + ":.\\\r\r\n" + "b.dll:2:" + kDigest +
                        ":sub\\\r\n\x1a" + "c.dll:3:" + kDigest + ":x\\\n",
                    e));
  EXPECT_EQ(Files(e), (Strings{".\\a.dll", "sub\\b.dll"}));
}

}  // namespace
