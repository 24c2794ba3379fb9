#include "crash/form_encode.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "crash/crash_log.h"

namespace {

std::string Encode(const std::string& text, int capacity) {
  // Exactly capacity bytes, so the sanitizers see any write beyond it.
  std::vector<char> out(static_cast<std::size_t>(capacity));
  char* r = FormEncode(out.data(), capacity, text.c_str());
  EXPECT_EQ(r, out.data());
  return std::string(out.data());
}

std::string Encode(const std::string& text) { return Encode(text, 3 * static_cast<int>(text.size()) + 1); }

TEST(FormEncode, EveryByte) {
  const std::string kept = "*-.0123456789@ABCDEFGHIJKLMNOPQRSTUVWXYZ_abcdefghijklmnopqrstuvwxyz";
  ASSERT_EQ(kept.size(), 67u);
  for (int c = 1; c < 256; ++c) {
    std::string expected;
    if (c == ' ') {
      expected = "+";
    } else if (kept.find(static_cast<char>(c)) != std::string::npos) {
      expected = std::string(1, static_cast<char>(c));
    } else {
      char esc[4];
      std::snprintf(esc, sizeof esc, "%%%02X", c);
      expected = esc;
    }
    EXPECT_EQ(Encode(std::string(1, static_cast<char>(c)), 4), expected) << "byte " << c;
  }
}

TEST(FormEncode, TextsOfTheReport) {
  EXPECT_EQ(Encode("a b&c"), "a+b%26c");
  EXPECT_EQ(Encode("\r\n"), "%0D%0A");
  EXPECT_EQ(Encode("+/%&=?~"), "%2B%2F%25%26%3D%3F%7E");
  EXPECT_EQ(Encode(""), "");
  // Korean text in the code page 949: "한글 로그" is C7D1 B1DB, blank, B7CE B1D7.
  EXPECT_EQ(Encode("\xC7\xD1\xB1\xDB \xB7\xCE\xB1\xD7"), "%C7%D1%B1%DB+%B7%CE%B1%D7");
  char out[4] = "zzz";
  EXPECT_STREQ(FormEncode(out, 4, nullptr), "");
}

TEST(FormEncode, CapacityBoundaries) {
  // "ab&c": a and b need 1 each, '&' needs 3; c would fit again but the
  // encoding stops at the first character that does not.
  const char* expected[] = {
      "",       // capacity 1: only the terminator
      "a",      // 2
      "ab",     // 3
      "ab",     // 4
      "ab",     // 5
      "ab%26",  // 6
      "ab%26c", // 7
      "ab%26c", // 8
  };
  for (int cap = 1; cap <= 8; ++cap) {
    EXPECT_EQ(Encode("ab&c", cap), expected[cap - 1]) << "capacity " << cap;
  }
  EXPECT_EQ(Encode("&ab", 3), "");  // stops at once, b would have fitted
  EXPECT_EQ(Encode("&ab", 4), "%26");
  // Capacity 0 writes nothing at all.
  char untouched[2] = {'x', 'y'};
  FormEncode(untouched, 0, "a");
  EXPECT_EQ(untouched[0], 'x');
  // Three bytes per input byte and the terminator always hold the whole text.
  std::string all;
  for (int c = 1; c < 256; ++c) all += static_cast<char>(c);
  std::string enc = Encode(all);
  EXPECT_EQ(enc.size(), 3u * 255 - 2u * (67 + 1));
}

TEST(CrashReport, NamesAndUid) {
  EXPECT_TRUE(IsCrashLogName("1234_exception.log"));
  EXPECT_TRUE(IsCrashLogName("abc_def_EXCEPTION.LOG"));
  EXPECT_TRUE(IsCrashLogName("x_exception.log.old"));
  EXPECT_FALSE(IsCrashLogName("notes.txt"));
  EXPECT_FALSE(IsCrashLogName("1234exception.log"));
  EXPECT_FALSE(IsCrashLogName(nullptr));
  char uid[16];
  CrashLogUid("1234_exception.log", uid, sizeof uid);
  EXPECT_STREQ(uid, "1234");
  CrashLogUid("abc_def_EXCEPTION.LOG", uid, sizeof uid);
  EXPECT_STREQ(uid, "abc_def");
  CrashLogUid("nounderscore", uid, sizeof uid);
  EXPECT_STREQ(uid, "");
  CrashLogUid("0123456789abcdefghij_exception.log", uid, sizeof uid);
  EXPECT_STREQ(uid, "0123456789abcde");
}

TEST(CrashReport, BodyCarriesFieldsRawAndContentsEncoded) {
  CrashLogFields f;
  std::strcpy(f.ver, "4001\n");
  std::strcpy(f.fadd, "0000028A");
  std::strcpy(f.fmod, "UlmetMain.exe");
  std::strcpy(f.ladd, "00015FD7");
  std::strcpy(f.lmod, "kernel32.dll");
  const std::string log = "line 1&\nVersion : 4001\n\xC7\xD1";
  EXPECT_EQ(BuildCrashReportBody("1234", f, log.data(), log.size()),
            "uid=1234&fver=ulmet3&ver=4001\n&fadd=0000028A&fmod=UlmetMain.exe&ladd=00015FD7"
            "&lmod=kernel32.dll&conts=line+1%26%0D%0AVersion+%3A+4001%0D%0A%C7%D1");
  CrashLogFields empty;
  EXPECT_EQ(BuildCrashReportBody("", empty, "", 0),
            "uid=&fver=ulmet3&ver=&fadd=&fmod=&ladd=&lmod=&conts=");
  EXPECT_EQ(ToCrLf("a\nb\r\n", 5), "a\r\nb\r\r\n");
}

TEST(CrashReport, LargestLogIsSentWhole) {
  // 1 MB of line feeds: every one becomes CR LF and both are escaped; no
  // part of the log may be cut.
  const std::string log(static_cast<std::size_t>(kCrashLogMaxBytes), '\n');
  CrashLogFields f;
  std::string body = BuildCrashReportBody("u", f, log.data(), log.size());
  const std::string head = "uid=u&fver=ulmet3&ver=&fadd=&fmod=&ladd=&lmod=&conts=";
  ASSERT_EQ(body.size(), head.size() + 6 * log.size());
  EXPECT_EQ(body.compare(0, head.size(), head), 0);
  EXPECT_EQ(body.substr(body.size() - 6), "%0D%0A");
}

}  // namespace
