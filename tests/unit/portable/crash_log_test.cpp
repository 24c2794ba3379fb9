#include "crash/crash_log.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "portable_support.h"

namespace {

const char kEnd[] = "//=======================================================\n";

CrashLogFields Parse(const std::string& contents) {
  testsupport::TempFile file(contents);
  CrashLogFields f;
  ParseCrashLog(file.path().c_str(), f);
  return f;
}

TEST(CrashLog, TypicalLogGivesItsFiveFields) {
  const std::string log = std::string(kEnd) +
                          "UlmetMain.exe caused an access violation in module UlmetMain.exe\r\n"
                          "Client Version : 4001\r\n"
                          "Fault address:  0040128A 01:0000028A C:\\Program Files\\Ulmet\\UlmetMain.exe\r\n"
                          "0040128A  0012FF80  0001:0000028A C:\\before\\header.dll\r\n"
                          "Call stack:\r\n"
                          "Address   Frame     Logical addr  Module\r\n"
                          "0040128A  0012FF80  0001:0000028A C:\\Program Files\\Ulmet\\UlmetMain.exe\r\n"
                          "7C816FD7  0012FFC0  0001:00015FD7 C:\\WINDOWS\\system32\\kernel32.dll\r\n"
                          "00000000  00000000  no module on this line\r\n" +
                          kEnd + "0BADF00D  00000000  0001:DEADBEEF C:\\after\\end.dll\n" +
                          "Version : 9999\n";
  CrashLogFields f = Parse(log);
  EXPECT_STREQ(f.ver, "4001\n");  // shorter than 7: the line feed stays
  EXPECT_STREQ(f.fadd, "0000028A");
  EXPECT_STREQ(f.fmod, "UlmetMain.exe");
  EXPECT_STREQ(f.ladd, "00015FD7");
  EXPECT_STREQ(f.lmod, "kernel32.dll");
}

TEST(CrashLog, CutsAndOrder) {
  // Seven characters of the version; eight after the second ':' of the
  // fault line even when the offset is short; an end line before the stack
  // header ends nothing; version and fault lines inside the stack count.
  CrashLogFields f = Parse(std::string("Version : 1.2.3.4567\n") + kEnd +
                           "Address   Frame\n"
                           "Fault address: 1234 01:2A C:\\x\\Fault.dll\n"
                           "00 00 0001:0000000A D:\\m\\Last.dll\n"
                           "App Version : 77\n");
  EXPECT_STREQ(f.ver, "77\n");
  EXPECT_STREQ(f.fadd, "2A C:\\x\\");
  EXPECT_STREQ(f.fmod, "Fault.dll");
  EXPECT_STREQ(f.ladd, "0000000A");
  EXPECT_STREQ(f.lmod, "Last.dll");
}

TEST(CrashLog, BrokenShapes) {
  // No backslash on the fault line: fadd only.
  CrashLogFields a = Parse("Fault address: 0040128A 01:0000028A UlmetMain.exe\n");
  EXPECT_STREQ(a.fadd, "0000028A");
  EXPECT_STREQ(a.fmod, "");
  // No second ':' on the fault line: fadd stays empty, the module is taken.
  CrashLogFields b = Parse("Fault address: 0040128A \\\\srv\\M.dll\n");
  EXPECT_STREQ(b.fadd, "");
  EXPECT_STREQ(b.fmod, "M.dll");
  // A stack line with a backslash and no ':' describes itself: its module,
  // no offset, even after a complete line.
  CrashLogFields c = Parse("Address   Frame\n"
                           "1 2 0001:00001111 C:\\a\\One.dll\n"
                           "1 2 0001 00002222 \\\\server\\Two.dll\n");
  EXPECT_STREQ(c.ladd, "");
  EXPECT_STREQ(c.lmod, "Two.dll");
  // The end of the file inside the stack section: the last line decides.
  CrashLogFields d = Parse("Address   Frame\n1 2 0001:00003333 C:\\a\\Three.dll");
  EXPECT_STREQ(d.ladd, "00003333");
  EXPECT_STREQ(d.lmod, "Three.dll");
  // Nothing recognisable: all empty.
  CrashLogFields e = Parse("just text\nVersion: no blank before the colon\n\\\\\n");
  EXPECT_STREQ(e.ver, "");
  EXPECT_STREQ(e.lmod, "");
  CrashLogFields empty = Parse("");
  EXPECT_STREQ(empty.fmod, "");
}

TEST(CrashLog, LongLinesAreReadInPieces) {
  // A stack line of 1500 characters: its second piece holds the module and
  // no ':', so it is the last line with a backslash.
  const std::string deep = "C:\\" + std::string(1450, 'd') + "\\Deep.dll\n";
  CrashLogFields f = Parse("Address   Frame\n1 2 0001:00004444 " + deep);
  EXPECT_STREQ(f.ladd, "");
  EXPECT_STREQ(f.lmod, "Deep.dll");
  // A module name longer than a piece is cut at the piece.
  const std::string longName(1500, 'm');
  CrashLogFields g = Parse("Fault address: 1 01:00005555 C:\\" + longName + "\n");
  EXPECT_STREQ(g.fadd, "00005555");
  const std::size_t firstPiece = 1023 - std::strlen("Fault address: 1 01:00005555 C:\\");
  EXPECT_EQ(std::string(g.fmod), std::string(firstPiece, 'm'));
  // A 1023-character stack line is one piece; its line feed is an empty line.
  std::string line = "1 2 0001:00006666 C:\\";
  line += std::string(1023 - line.size() - 4, 'x') + "\\y.z";
  ASSERT_EQ(line.size(), 1023u);
  CrashLogFields h = Parse("Address   Frame\n" + line + "\n");
  EXPECT_STREQ(h.ladd, "00006666");
  EXPECT_STREQ(h.lmod, "y.z");
}

TEST(CrashLog, UnreadablePathLeavesOutputsAlone) {
  char fadd[9] = "QQ", fmod[1024] = "QQ", ladd[9] = "QQ", lmod[1024] = "QQ", ver[8] = "QQ";
  ParseCrashLog(nullptr, fadd, fmod, ladd, lmod, ver);
  ParseCrashLog("", fadd, fmod, ladd, lmod, ver);
  ParseCrashLog(testsupport::UniqueTempPath("no_exception.log").c_str(), fadd, fmod, ladd, lmod, ver);
  for (const char* s : {fadd, fmod, ladd, lmod, ver}) EXPECT_STREQ(s, "QQ");
}

// CRs before a line feed end the line, a Ctrl-Z ends the file, in both
// builds as in the Windows runtime's text mode.
TEST(CrashLog, ReadsLikeTheWindowsTextMode) {
  CrashLogFields f = Parse(
      "Version : 4001\r\r\nFault address:  0040128A 01:0000028A C:\\x\\a.exe\r\r\n\x1a"
      "Address   Frame\n0:1 C:\\w\\k.dll\n");
  EXPECT_STREQ(f.ver, "4001\n");
  EXPECT_STREQ(f.fadd, "0000028A");
  EXPECT_STREQ(f.fmod, "a.exe");
  EXPECT_STREQ(f.lmod, "");
}

}  // namespace
