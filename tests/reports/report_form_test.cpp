// The receiver's reading of a post against the updater's own making of it,
// and the texts made fit to show.
#include <gtest/gtest.h>

#include <cstring>

#include "crash/crash_log.h"
#include "crash/form_encode.h"
#include "pages/report_text.h"
#include "receive/report_form.h"
#include "store/signature.h"

namespace {

using ulr::FormVerdict;

CrashLogFields Fields(const char* ver, const char* fadd, const char* fmod, const char* ladd, const char* lmod) {
  CrashLogFields f;
  for (auto field : {std::make_pair(f.ver, ver), {f.fadd, fadd}, {f.fmod, fmod}, {f.ladd, ladd}, {f.lmod, lmod}})
    std::strcpy(field.first, field.second);
  return f;
}

// Whatever the updater sends comes back field for field, and the log as it
// lay on the player's disk.
TEST(ReportForm, ReadsWhatTheUpdaterSends) {
  struct Case {
    const char* name;
    std::string uid;
    CrashLogFields fields;
    std::string log;
  };
  const std::string korean = "\xBF\xEF\xB8\xDE \xBF\xC0\xB7\xF9\r\n";  // "울메 오류" with a CR LF of its own
  const Case cases[] = {
      {"typical", "1234", Fields("4001\n", "00AB12CD", "UlmetMain.exe", "7C80ABCD", "KERNEL32.dll"),
       "Version : 4001\nFault address: x\n"},
      {"separators in the raw fields", "a&b=c", Fields("4.0&1=", "0041A2B3", "R&D=1 &x.dll", "=&", "x&lmod=y.dll"),
       "a+b=c & 100%\n"},
      {"empty fields", "", Fields("", "", "", "", ""), "x"},
      {"Korean module and log", "Abc_Def", Fields("4002\n", "0001", "\xC7\xC3\xB7\xAF\xB1\xD7\xC0\xCE.dll", "", ""),
       korean + "<script>alert(1)</script>\n"},
      {"the largest log: line feeds only", "big", Fields("4001\n", "1", "m", "2", "n"),
       std::string(ulr::kMaxLogBytes, '\n')},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string body = BuildCrashReportBody(c.uid.c_str(), c.fields, c.log.data(), c.log.size());
    ulr::ReportForm form;
    std::string why;
    ASSERT_EQ(ulr::ParseReportForm(body, &form, &why), FormVerdict::kOk) << why;
    EXPECT_EQ(form.uid, c.uid);
    EXPECT_EQ(form.fver, "ulmet3");
    EXPECT_EQ(form.ver, c.fields.ver);
    EXPECT_EQ(form.fadd, c.fields.fadd);
    EXPECT_EQ(form.fmod, c.fields.fmod);
    EXPECT_EQ(form.ladd, c.fields.ladd);
    EXPECT_EQ(form.lmod, c.fields.lmod);
    EXPECT_TRUE(form.conts == ToCrLf(c.log.data(), c.log.size()));
    EXPECT_TRUE(ulr::RestoreLog(form.conts) == c.log);
  }
}

TEST(ReportForm, RefusesWhatNoUpdaterSends) {
  const std::string tail = "&fver=ulmet3&ver=4001&fadd=1&fmod=m&ladd=2&lmod=n&conts=";
  const struct {
    std::string body;
    FormVerdict verdict;
  } cases[] = {
      {"", FormVerdict::kMalformed},
      {"fver=ulmet3&uid=1" + tail + "x", FormVerdict::kMalformed},               // order
      {"uid=1&fver=ulmet3&ver=4001&fadd=1&fmod=m&conts=x", FormVerdict::kMalformed},  // no ladd, lmod
      {"uid=1" + tail, FormVerdict::kMalformed},                                // empty log
      {"uid=1" + tail + "a&b", FormVerdict::kMalformed},                        // conts not last
      {"uid=1&fver=ulmet3&ver=40011234&fadd=1&fmod=m&ladd=2&lmod=n&conts=x", FormVerdict::kMalformed},  // ver > 7
      {"uid=1&fver=ulmet 3&ver=1&fadd=1&fmod=m&ladd=2&lmod=n&conts=x", FormVerdict::kMalformed},
      {"uid=1&fver=ulmet3&ver=1&fadd=1&fmod=" + std::string(1024, 'm') + "&ladd=2&lmod=n&conts=x",
       FormVerdict::kMalformed},
      {"uid=" + std::string("a\0b", 3) + tail + "x", FormVerdict::kMalformed},
      {"uid=1" + tail + "%4", FormVerdict::kBadEncoding},
      {"uid=1" + tail + "%G0", FormVerdict::kBadEncoding},
      {"uid=1" + tail + "a b", FormVerdict::kBadEncoding},
      {"uid=1" + tail + "\xBF\xEF", FormVerdict::kBadEncoding},
      {"uid=1" + tail + std::string(ulr::kMaxLogBytes + 1, 'x'), FormVerdict::kLogTooLarge},
      {"uid=1" + tail + std::string(ulr::kMaxBodyBytes, 'x'), FormVerdict::kLogTooLarge},
  };
  for (const auto& c : cases) {
    ulr::ReportForm form;
    std::string why;
    EXPECT_EQ(ulr::ParseReportForm(c.body, &form, &why), c.verdict) << c.body.substr(0, 120);
    EXPECT_FALSE(why.empty());
  }
}

TEST(ReportForm, SignatureIgnoresTheLetterCaseOfModulesAndOffsets) {
  ulr::ReportForm a, b, c;
  a.fmod = "KERNEL32.dll", a.fadd = "7c80abcd", a.lmod = "UlmetMain.exe", a.ladd = "00012345";
  b.fmod = "kernel32.DLL", b.fadd = "7C80ABCD", b.lmod = "ULMETMAIN.EXE", b.ladd = "00012345";
  c = a;
  c.ladd = "00012346";
  EXPECT_EQ(ulr::SignatureId(ulr::SignatureKey(a)), ulr::SignatureId(ulr::SignatureKey(b)));
  EXPECT_NE(ulr::SignatureId(ulr::SignatureKey(a)), ulr::SignatureId(ulr::SignatureKey(c)));
  // A field's end is never taken for the next one's start.
  c = a;
  c.fmod = "KERNEL32.dll7c80abcd", c.fadd = "";
  EXPECT_NE(ulr::SignatureKey(a), ulr::SignatureKey(c));
  EXPECT_GT(ulr::SignatureId(ulr::SignatureKey(a)), 0);
  EXPECT_EQ(ulr::ClientVersion("4001\n"), "4001");
  EXPECT_EQ(ulr::ClientVersion("4.0.1.7"), "4.0.1.7");
}

TEST(ReportText, ShowsCodePage949AndNothingThatCouldActOnThePage) {
  EXPECT_EQ(ulr::DisplayText("\xBF\xEF\xB8\xDE\r\nok\tend"), "울메\nok\tend");
  EXPECT_EQ(ulr::DisplayText("a\x80z"), "a\xEF\xBF\xBDz");         // not code page 949
  EXPECT_EQ(ulr::DisplayText("a\xBF"), "a\xEF\xBF\xBD");           // cut in the middle
  EXPECT_EQ(ulr::DisplayText("a\xA2\xE8"), "a\xEF\xBF\xBD");       // a code the table lacks, last
  EXPECT_EQ(ulr::DisplayText("\xA2\xE8z\xE8z"), "\xEF\xBF\xBDz\xEF\xBF\xBDz");  // ... and inside; ASCII kept
  EXPECT_EQ(ulr::DisplayText("\x1B[31m\r"), "\xEF\xBF\xBD[31m\xEF\xBF\xBD");
  EXPECT_EQ(ulr::HtmlEscape("<script>\"a\" & 'b'</script>"),
            "&lt;script&gt;&quot;a&quot; &amp; &#39;b&#39;&lt;/script&gt;");
  EXPECT_EQ(ulr::CsvCell("say \"hi\"\nbye"), "\"say \"\"hi\"\"\nbye\"");
  EXPECT_EQ(ulr::CsvCell("=HYPERLINK(1)"), "\"'=HYPERLINK(1)\"");
  EXPECT_EQ(ulr::JsonString("a\"\\\n\x01</script>"), "\"a\\\"\\\\\\n\\u0001\\u003c/script\\u003e\"");
}

}  // namespace
