// The receiver's reading of a post against the updater's own making of it,
// and the texts made fit to show.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
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
      {"the next field's separator in uid: a log named a&fver=b_exception.log", "a&fver=b",
       Fields("4001\n", "0041A2B3", "UlmetMain.exe", "00023456", "KERNEL32.dll"), "x\n"},
      {"the next field's separator in ver", "1", Fields("1&fadd=", "0041A2B3", "UlmetMain.exe", "1", "m"), "x\n"},
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
      {"uid=" + std::string(260, 'u') + tail + "x", FormVerdict::kMalformed},
      {"uid=1&fver=ulmet3&ver=1&fadd=1&fmod=m&ladd=2&lmod=" + std::string(1024, 'n') + "&conts=x",
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

// The best of three parses of body, in seconds, timed in a child process so
// that a parse that would take minutes is stopped at limitS (and reported
// as that long).
double ParseSeconds(const std::string& body, double limitS) {
  int fds[2];
  if (pipe(fds) != 0) return limitS;
  const pid_t child = fork();
  if (child == 0) {
    double best = 1e9;
    for (int i = 0; i < 3; ++i) {
      const auto t0 = std::chrono::steady_clock::now();
      ulr::ReportForm form;
      std::string why;
      ulr::ParseReportForm(body, &form, &why);
      best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
    _exit(write(fds[1], &best, sizeof best) == sizeof best ? 0 : 1);
  }
  double seconds = limitS;
  pollfd p{fds[0], POLLIN, 0};
  if (child > 0 && poll(&p, 1, static_cast<int>(limitS * 1000)) == 1 && read(fds[0], &seconds, sizeof seconds) != sizeof seconds)
    seconds = limitS;
  if (child > 0) {
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
  }
  close(fds[0]);
  close(fds[1]);
  return seconds;
}

// The work per body is linear: the largest body a post may have, made to
// send the reader searching, is read no slower than an ordinary report of
// the same size (a log of line feeds only, each sent as %0D%0A).
TEST(ReportForm, HostileBodiesOfTheLargestSizeTakeNoLongerThanAnOrdinaryOne) {
  const std::string lineFeeds(ulr::kMaxLogBytes, '\n');
  const std::string ordinary =
      BuildCrashReportBody("ordinary", Fields("4001\n", "1", "m", "2", "n"), lineFeeds.data(), lineFeeds.size());
  ASSERT_LE(ordinary.size(), ulr::kMaxBodyBytes);
  double ordinarySeconds = 1e9;
  for (int i = 0; i < 3; ++i) {
    const auto t0 = std::chrono::steady_clock::now();
    ulr::ReportForm form;
    std::string why;
    ASSERT_EQ(ulr::ParseReportForm(ordinary, &form, &why), FormVerdict::kOk) << why;
    ordinarySeconds =
        std::min(ordinarySeconds, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
  }
  // Each: a beginning, one piece repeated to the ordinary body's size, an end.
  const struct {
    const char* name;
    std::string head, piece, end;
  } cases[] = {
      {"ladd separators between fmod and conts", "uid=a&fver=1&ver=1&fadd=1&fmod=", "&ladd=", "&conts=zz"},
      {"every raw field's separator over and over", "uid=", "&fver=&ver=&fadd=&fmod=&ladd=&lmod=", "&conts=zz"},
      {"one raw field as wide as the body", "uid=", "u", "&fver=1&ver=1&fadd=1&fmod=m&ladd=2&lmod=n&conts=zz"},
      {"ampersands after conts", "uid=1&fver=1&ver=1&fadd=1&fmod=m&ladd=2&lmod=n&conts=", "&", ""},
  };
  for (const auto& c : cases) {
    std::string body = c.head;
    while (body.size() + c.piece.size() + c.end.size() <= ordinary.size()) body += c.piece;
    body += c.end;
    const double seconds = ParseSeconds(body, std::max(10.0, 30 * ordinarySeconds));
    EXPECT_LE(seconds, 3 * ordinarySeconds) << c.name << ": " << seconds << " s against " << ordinarySeconds
                                            << " s for an ordinary body of " << ordinary.size() << " bytes";
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
  // Whatever a spreadsheet would read as a formula starts with an apostrophe.
  for (const char* formula : {"=HYPERLINK(1)", "+1+1", "-1+1", "@SUM(A1)", "\tx", "\rx"})
    EXPECT_EQ(ulr::CsvCell(formula), "\"'" + std::string(formula) + "\"") << formula;
  EXPECT_EQ(ulr::CsvCell("a=1"), "\"a=1\"");
  EXPECT_EQ(ulr::JsonString("a\"\\\n\x01</script>"), "\"a\\\"\\\\\\n\\u0001\\u003c/script\\u003e\"");
}

}  // namespace
