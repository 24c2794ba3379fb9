#include "formats/base/bounded.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstring>
#include <string>

#include "common/trace.h"

namespace {

TEST(Bounded, FormatCutsAtCapacityAndTerminates) {
  char buf[ul::kPathCap];
  std::memset(buf, 'Z', sizeof buf);
  std::string long_name(400, 'a');
  std::size_t n = ul::Format(buf, "%s\\%s", "C:\\Ulmet", long_name.c_str());
  EXPECT_EQ(n, ul::kPathCap - 1);
  EXPECT_EQ(std::strlen(buf), ul::kPathCap - 1);
  EXPECT_EQ(std::string(buf, 9), "C:\\Ulmet\\");

  char text[ul::kTextCap];
  EXPECT_EQ(ul::Format(text, "%s%s", "ab", "cd"), 4u);
  EXPECT_STREQ(text, "abcd");
}

TEST(Bounded, ValuesAreNeverFormatText) {
  char buf[64];
  ul::Format(buf, "[%s]", "100%s %d %n");
  EXPECT_STREQ(buf, "[100%s %d %n]");
  ul::Copy(buf, "%x%x%x");
  EXPECT_STREQ(buf, "%x%x%x");
}

TEST(Bounded, CopyAndAppendStayInside) {
  char small[5];
  EXPECT_EQ(ul::Copy(small, "abcdefgh"), 4u);
  EXPECT_STREQ(small, "abcd");
  EXPECT_EQ(ul::Copy(small, nullptr), 0u);
  EXPECT_STREQ(small, "");

  char path[8] = "ab";
  EXPECT_EQ(ul::Append(path, "cdefghij"), 7u);
  EXPECT_STREQ(path, "abcdefg");
  EXPECT_EQ(ul::Append(path, "x"), 7u);

  char unterminated[4] = {'a', 'b', 'c', 'd'};
  EXPECT_EQ(ul::Append(unterminated, "e"), 3u);
  EXPECT_STREQ(unterminated, "abc");
}

TEST(Bounded, CaseInsensitiveLeavesDoubleByteCharactersAlone) {
  EXPECT_TRUE(ul::EqualsNoCase("ULMETMAIN.EXE", "UlmetMain.exe"));
  EXPECT_FALSE(ul::EqualsNoCase("bvx.dll", "bvx.dl_"));
  EXPECT_TRUE(ul::EndsWithNoCase("data\\Pack.ZIP", "zip"));
  EXPECT_FALSE(ul::EndsWithNoCase("ip", "zip"));
  // Bytes above 0x7F are never folded: 0xC5 0xAC and 0xC5 0xCC stay apart.
  EXPECT_FALSE(ul::EqualsNoCase("\xC5\xAC", "\xC5\xCC"));
  EXPECT_LT(ul::CompareNoCase("abc", "ABD"), 0);
  EXPECT_EQ(ul::CompareNoCase(nullptr, ""), 0);
}

std::string TraceLine(const char* fmt, ...) {
  static char buf[ul::kTraceCap + 16];
  std::memset(buf, 'Q', sizeof buf);
  va_list ap;
  va_start(ap, fmt);
  std::size_t n = ul::FormatTraceLine(buf, fmt, ap);
  va_end(ap);
  EXPECT_EQ(buf[n], '\0');
  EXPECT_EQ(buf[ul::kTraceCap], 'Q') << "wrote past the trace buffer";
  return std::string(buf, n);
}

TEST(Bounded, TraceLineGetsLineFeedAndLongLinesAreCut) {
  EXPECT_EQ(TraceLine("CheckFirstRun %s", "CFR_ID_NO_FIRST"), "CheckFirstRun CFR_ID_NO_FIRST\n");
  std::string at_limit(8170, 'y');
  EXPECT_EQ(TraceLine("%s", at_limit.c_str()), at_limit + "\n");
  std::string over(9000, 'z');
  std::string cut = TraceLine("%s", over.c_str());
  ASSERT_EQ(cut.size(), 8171u);
  EXPECT_EQ(cut.back(), '\n');
  EXPECT_EQ(cut.substr(0, 8170), std::string(8170, 'z'));
}

}  // namespace
