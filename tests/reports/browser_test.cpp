// The operator's pages in a real browser (headless Chromium): the signature
// list and a report page as a person sees them, the pictures read back by
// OCR for their Korean text and counts, and a script in a player's log that
// must not run.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>

#include "harness.h"
#include "harness/proc.h"
#include "store/store.h"

namespace ulrt {
namespace {

const char kPassword[] = "browser-secret-7";

// Chromium's screenshot of the page and its DOM once loaded (scripts run);
// false when it did not run.
bool Browse(const std::string& folder, const std::string& url, const std::string& shot, std::string* dom) {
  scn::ProcSpec p;
  p.argv = {"chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
            "--disable-background-networking", "--disable-component-update", "--disable-sync",
            "--hide-scrollbars", "--user-data-dir=" + folder + "/profile-" + std::to_string(scn::EpochMs()),
            "--window-size=1280,720", "--force-device-scale-factor=2", "--lang=ko-KR"};
  p.argv.push_back("--screenshot=" + shot);
  p.argv.push_back("--dump-dom");
  p.argv.push_back(url);
  p.stdoutFile = folder + "/chromium.out";
  p.stderrFile = folder + "/chromium.err";
  const scn::ProcResult r = scn::RunProcess(p, 60);
  *dom = scn::ReadText(p.stdoutFile);
  return r.exitCode == 0 && !r.timedOut;
}

// The text that OCR reads in a picture (taken at twice the pixels, read
// as one column of lines), blanks removed (Korean OCR puts blanks between
// syllables now and then).
std::string Ocr(const std::string& folder, const std::string& png) {
  scn::ProcSpec p;
  p.argv = {"tesseract", png, folder + "/ocr", "-l", "kor+eng", "--psm", "4"};
  p.stderrFile = folder + "/ocr.err";
  scn::RunProcess(p, 60);
  std::string text;
  for (char c : scn::ReadText(folder + "/ocr.txt"))
    if (!std::isspace(static_cast<unsigned char>(c))) text += c;
  return text;
}

TEST(Browser, ShowsKoreanPagesWithTheirCountsAndRunsNoPlayerScript) {
  const std::string folder = TestFolder("browser");
  const std::string address = FreshStore("sqlite", "browser", folder);
  ReportsServer server(address, folder, kPassword);
  ASSERT_TRUE(server.Start()) << server.Output();
  const std::string korean = "\xBF\xEF\xB8\xDE \xC5\xAC\xB6\xF3\xC0\xCC\xBE\xF0\xC6\xAE \xBF\xC0\xB7\xF9\n";  // 울메 클라이언트 오류
  const std::string script =
      "<script>document.title='OWNED';document.body.setAttribute('data-owned','1')</script>\n"
      "<img src=x onerror=\"document.body.setAttribute('data-owned','2')\">\n";
  for (int i = 0; i < 3; ++i)
    ASSERT_EQ(PostReport(server.host(), server.port(), "/report", ReportBody("k" + std::to_string(i), korean, "UlmetMain.exe", "4002\n")), 200);
  for (int i = 0; i < 2; ++i)
    ASSERT_EQ(PostReport(server.host(), server.port(), "/report", ReportBody("s" + std::to_string(i), korean + script, "Skin.dll", "4002\n")), 200);

  std::string error;
  auto store = ulr::OpenStore(address, false, &error);
  ASSERT_TRUE(store) << error;
  std::vector<ulr::StoredReport> reports;
  ASSERT_TRUE(store->ReportsAfter(0, 0, 10, &reports, &error));
  ASSERT_EQ(reports.size(), 5u);
  const std::string base = "http://operator:" + std::string(kPassword) + "@" + server.host() + ":" +
                           std::to_string(server.port());
  const std::string reportUrl = base + "/reports/" + std::to_string(reports.back().id);

  const std::string list = folder + "/signatures.png", report = folder + "/report.png";
  std::string dom;
  ASSERT_TRUE(Browse(folder, base + "/", list, &dom)) << scn::ReadText(folder + "/chromium.err");
  EXPECT_NE(dom.find("받은 보고 5건"), std::string::npos) << dom;
  EXPECT_NE(dom.find("<td class=\"n\">3</td>"), std::string::npos) << dom;
  EXPECT_NE(dom.find("<td class=\"n\">2</td>"), std::string::npos) << dom;
  EXPECT_NE(dom.find(">Skin.dll</a>"), std::string::npos) << dom;
  ASSERT_TRUE(Browse(folder, reportUrl, report, &dom));
  EXPECT_NE(dom.find("<title>보고 " + std::to_string(reports.back().id) + " - 울메 충돌 보고</title>"), std::string::npos)
      << "the page's title was changed";
  EXPECT_EQ(dom.find("data-owned=\""), std::string::npos) << "a script from the log ran";
  EXPECT_EQ(dom.find("<img"), std::string::npos) << "an element from the log was made";
  EXPECT_NE(dom.find("&lt;script&gt;document.title='OWNED'"), std::string::npos) << dom;

  const std::string listText = Ocr(folder, list);
  EXPECT_NE(listText.find("울메충돌보고받은보고5건"), std::string::npos) << listText;
  EXPECT_NE(listText.find("클라이언트버전"), std::string::npos) << listText;
  // Each row: module, offsets, then its count before the first date. The
  // Skin row's module, a small blue link, is misread by the OCR now and then;
  // the page's own text holds it (above), and its row is read by its count.
  EXPECT_NE(listText.find("0002345622026-"), std::string::npos) << listText;
  EXPECT_NE(listText.find("UlmetMain.exe"), std::string::npos) << listText;
  EXPECT_NE(listText.find("0002345632026-"), std::string::npos) << listText;
  const std::string reportText = Ocr(folder, report);
  EXPECT_NE(reportText.find("로그전체"), std::string::npos) << reportText;
  EXPECT_NE(reportText.find("울메클라이언트오류"), std::string::npos) << reportText;
  EXPECT_NE(reportText.find("document.title"), std::string::npos) << reportText;
  EXPECT_EQ(server.Stop(), 0);
}

}  // namespace
}  // namespace ulrt
