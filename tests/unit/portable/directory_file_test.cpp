#include "formats/lists/directory_file.h"

#include <gtest/gtest.h>

#include <string>

#include "portable_support.h"

namespace {

bool Parse(const std::string& contents, DirectoryRecord& config) {
  testsupport::TempFile file(contents);
  std::FILE* f = file.OpenText();
  EXPECT_NE(f, nullptr);
  return ParseDirectoryFile(f, &config);
}

void ExpectUntouched(const DirectoryRecord& c) {
  EXPECT_STREQ(c.serverHost, "");
  EXPECT_EQ(c.serverPort, 80);
  EXPECT_STREQ(c.programConfigPath, "");
}

TEST(DirectoryFile, SelectsFirst5001RecordAfterOthersWithCommentsWhereAllowed) {
  DirectoryRecord c;
  EXPECT_TRUE(Parse(";head\n"
                    "5002\n;c\nother.host\n;c\n8080\n;taken as the skipped record's path line\n"
                    ";before id\n5001\n;c2\ncfg.example \n;c3\n8081\n;c4\n/Ulmet/ULProgram.cfg\n"
                    "5001\nsecond.host\n1\n/second\n",
                    c));
  EXPECT_STREQ(c.serverHost, "cfg.example ");  // a trailing blank stays
  EXPECT_EQ(c.serverPort, 8081);
  EXPECT_STREQ(c.programConfigPath, "/Ulmet/ULProgram.cfg");
}

TEST(DirectoryFile, CommentInFrontOfSkippedPathLineIsThatLine) {
  // The skipped record's fourth line is the comment, so "/skipped" becomes
  // an id line (0) and the record of "/skipped" swallows "5001".
  DirectoryRecord c;
  EXPECT_TRUE(Parse("7\nh\n1\n;path\n/skipped\n5001\nx\n2\n5001\nhost\n3\n/p\n", c));
  EXPECT_STREQ(c.serverHost, "host");
  EXPECT_EQ(c.serverPort, 3);
  EXPECT_STREQ(c.programConfigPath, "/p");
}

TEST(DirectoryFile, EndOfFileAtEveryPosition) {
  struct Case {
    const char* text;
    bool result;
  };
  const Case cases[] = {
      {"", true},                        // empty file
      {";only a comment\n", true},       // id line due
      {"5001", false},                   // selected: before host
      {"5001\n;c\n", false},             // selected: only a comment before host
      {"5001\nhost\n", false},           // selected: before port
      {"5001\nhost\n80\n", false},       // selected: before path
      {"5001\nhost\n80\n;c\n", false},   // selected: comment, then nothing
      {"5002\n", false},                 // skipped: before host
      {"5002\nhost\n", false},           // skipped: before port
      {"5002\nhost\n80\n", true},        // skipped: before path
      {"5002\nhost\n80\n/p\n", true},    // skipped: after path
      {"5002\nhost\n80\n/p", true},      // last line without line feed
  };
  for (const Case& k : cases) {
    DirectoryRecord c;
    EXPECT_EQ(Parse(k.text, c), k.result) << '"' << k.text << '"';
  }
  // A record without a 5001 keeps the initial values.
  DirectoryRecord c;
  EXPECT_TRUE(Parse("5002\nhost\n81\n/p\n", c));
  ExpectUntouched(c);
  // The host is taken before the end is met: what was read stays.
  DirectoryRecord d;
  EXPECT_FALSE(Parse("5001\nhalf.host\n", d));
  EXPECT_STREQ(d.serverHost, "half.host");
}

TEST(DirectoryFile, IdAndPortReadLikeAtoiValuesAsTheyStand) {
  DirectoryRecord c;
  EXPECT_TRUE(Parse("  +5001 trailing text\n%s%n host\n 8080abc\n/a b/%d%%.cfg\n", c));
  EXPECT_STREQ(c.serverHost, "%s%n host");
  EXPECT_EQ(c.serverPort, 8080);
  EXPECT_STREQ(c.programConfigPath, "/a b/%d%%.cfg");
  DirectoryRecord d;
  EXPECT_TRUE(Parse("50010\nh\n1\n/p\n", d));  // not 5001
  ExpectUntouched(d);
  DirectoryRecord e;
  EXPECT_TRUE(Parse("5001\nh\n99999999999\n/p\n", e));
  EXPECT_EQ(e.serverPort, 2147483647);  // clamped, not overflowed
}

TEST(DirectoryFile, CrLfAndLfEndingsGiveTheSameValues) {
  DirectoryRecord lf, crlf;
  EXPECT_TRUE(Parse(";c\n5001\nhost\n80\n/path\n", lf));
  EXPECT_TRUE(Parse(";c\r\n5001\r\nhost\r\n80\r\n/path\r\n", crlf));
  EXPECT_STREQ(crlf.serverHost, "host");
  EXPECT_STREQ(crlf.programConfigPath, "/path");
  EXPECT_STREQ(lf.serverHost, crlf.serverHost);
  EXPECT_STREQ(lf.programConfigPath, crlf.programConfigPath);
  // A lone CR is text, not a line end.
  DirectoryRecord cr;
  EXPECT_TRUE(Parse("5001\nho\rst\n80\n/p\n", cr));
  EXPECT_STREQ(cr.serverHost, "ho\rst");
}

TEST(DirectoryFile, LongLinesArriveInPiecesOf1023) {
  const std::string h1022(1022, 'h'), h1023(1023, 'h'), h1500(1500, 'h');
  // 1022 characters and the line feed fit in one read.
  DirectoryRecord a;
  EXPECT_TRUE(Parse("5001\n" + h1022 + "\n80\n/p\n", a));
  EXPECT_EQ(std::string(a.serverHost), h1022);
  EXPECT_EQ(a.serverPort, 80);
  EXPECT_STREQ(a.programConfigPath, "/p");
  // 1023 characters fill the buffer; the line feed is the next "line", which
  // becomes the port (0), and the port line becomes the path.
  DirectoryRecord b;
  EXPECT_TRUE(Parse("5001\n" + h1023 + "\n80\n/p\n", b));
  EXPECT_EQ(std::string(b.serverHost), h1023);
  EXPECT_EQ(b.serverPort, 0);
  EXPECT_STREQ(b.programConfigPath, "80");
  // 1024 characters: the 1024th character is a line of its own.
  DirectoryRecord c;
  EXPECT_TRUE(Parse("5001\n" + h1023 + "7\n80\n/p\n", c));
  EXPECT_EQ(c.serverPort, 7);
  EXPECT_STREQ(c.programConfigPath, "80");
  // 1500 characters: the first 1023, then the other 477 as the port line.
  DirectoryRecord d;
  EXPECT_TRUE(Parse("5001\n" + h1500 + "\n80\n/p\n", d));
  EXPECT_EQ(std::string(d.serverHost), h1023);
  EXPECT_EQ(d.serverPort, 0);
  EXPECT_STREQ(d.programConfigPath, "80");
  // With CR LF, a 1022-character line still fits one read.
  DirectoryRecord e;
  EXPECT_TRUE(Parse("5001\r\n" + h1022 + "\r\n80\r\n/p\r\n", e));
  EXPECT_EQ(std::string(e.serverHost), h1022);
  EXPECT_STREQ(e.programConfigPath, "/p");
}

// Both builds read what the Windows runtime's text mode delivers: CRs right
// before a line feed end the line with it (the runtime leaves "\r\n" of a
// "\r\r\n"), other CRs are text, and a Ctrl-Z ends the file.
TEST(DirectoryFile, ReadsLikeTheWindowsTextMode) {
  struct Case {
    const char* text;
    bool result;
    const char* host;
    const char* path;
  };
  const Case cases[] = {
      {"5001\r\r\nhost\r\r\n80\r\r\n/path\r\r\n", true, "host", "/path"},
      {"5001\nhost\r\r\r\n80\n/path\n", true, "host", "/path"},
      {"5001\nhost\n80\n/p\x1a/q\n", true, "host", "/p"},
      {"5001\nhost\x1a\n80\n/p\n", false, "host", ""},
      {"\x1a" "5001\nhost\n80\n/p\n", true, "", ""},
      {"5001\nho\r\rst\r\x1a\n80\n", false, "ho\r\rst\r", ""},
  };
  for (const Case& k : cases) {
    DirectoryRecord c;
    EXPECT_EQ(Parse(k.text, c), k.result) << testing::PrintToString(k.text);
    EXPECT_STREQ(c.serverHost, k.host) << testing::PrintToString(k.text);
    EXPECT_STREQ(c.programConfigPath, k.path) << testing::PrintToString(k.text);
  }
  // A run of CRs that is text keeps only as many as fit in the line piece.
  const std::string h1020(1020, 'h');
  DirectoryRecord d;
  EXPECT_TRUE(Parse("5001\n" + h1020 + std::string(10, '\r') + "x\n80\n/p\n", d));
  EXPECT_EQ(std::string(d.serverHost), h1020 + "\r\r\r");
  EXPECT_EQ(d.serverPort, 0);  // "x"
  EXPECT_STREQ(d.programConfigPath, "80");
}

}  // namespace
