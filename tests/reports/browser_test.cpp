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
  // Each row: the faulting module and offset, then its count before the
  // first date (the last stack line goes below them). The Skin row's
  // module, a small blue link, is misread by the OCR now and then; the
  // page's own text holds it (above), and its row is read by its count.
  EXPECT_NE(listText.find("0041A2B322026-"), std::string::npos) << listText;
  EXPECT_NE(listText.find("UlmetMain.exe0041A2B332026-"), std::string::npos) << listText;
  EXPECT_NE(listText.find("마지막스택:KERNEL32.dll00023456"), std::string::npos) << listText;
  const std::string reportText = Ocr(folder, report);
  EXPECT_NE(reportText.find("로그전체"), std::string::npos) << reportText;
  EXPECT_NE(reportText.find("울메클라이언트오류"), std::string::npos) << reportText;
  EXPECT_NE(reportText.find("document.title"), std::string::npos) << reportText;
  EXPECT_EQ(server.Stop(), 0);
}

}  // namespace
}  // namespace ulrt

namespace ulrt {
namespace {

// The trend of the last 30 days on the front page and a signature's page:
// reports spread over days and three versions (their times set in the
// store), one bar a day stacked by version, drawn without a script.
TEST(Browser, TrendChartShowsReportsPerDayByVersion) {
  const std::string folder = TestFolder("trend");
  const std::string address = FreshStore("sqlite", "trend", folder);
  ReportsServer server(address, folder, kPassword, {"--post-rate", "0"});
  ASSERT_TRUE(server.Start()) << server.Output();
  // Version, days ago, reports: 1003 fading out, 1004 steady, 1005 new and rising.
  const struct {
    const char* version;
    int daysAgo, reports;
  } days[] = {{"1003", 29, 6}, {"1003", 20, 4}, {"1003", 12, 2}, {"1004", 18, 3}, {"1004", 10, 5},
              {"1004", 4, 4},  {"1004", 0, 2},  {"1005", 3, 3},  {"1005", 1, 7},  {"1005", 0, 9},
              {"1003", 40, 8}};  // beyond the 30 days: not drawn
  int uid = 0;
  for (const auto& d : days) {
    for (int i = 0; i < d.reports; ++i) {
      const std::string id = "t" + std::to_string(++uid);
      ASSERT_EQ(PostReport(server.host(), server.port(), "/report",
                           ReportBody(id, "log " + id + "\n", d.version[3] == '5' ? "Skin.dll" : "UlmetMain.exe",
                                      std::string(d.version) + "\n")),
                200);
      ASSERT_TRUE(ExecSql(address, "UPDATE reports SET received_ms = received_ms - " +
                                       std::to_string(d.daysAgo) + " * 86400000 WHERE uid = CAST('" + id + "' AS BLOB)"));
    }
  }
  const std::string base = "http://operator:" + std::string(kPassword) + "@" + server.host() + ":" +
                           std::to_string(server.port());
  std::string dom;
  ASSERT_TRUE(Browse(folder, base + "/", folder + "/trend.png", &dom)) << scn::ReadText(folder + "/chromium.err");
  const std::size_t svg = dom.find("<svg");
  ASSERT_NE(svg, std::string::npos) << dom;
  const std::string chart = dom.substr(svg, dom.find("</svg>", svg) - svg);
  std::size_t bars = 0;
  for (std::size_t at = chart.find("<rect"); at != std::string::npos; at = chart.find("<rect", at + 1)) ++bars;
  EXPECT_EQ(bars, 10u + 3u) << "one piece for each day and version drawn, and three in the legend\n" << chart;
  EXPECT_NE(chart.find(": 9건</title>"), std::string::npos) << chart;
  EXPECT_EQ(chart.find(": 8건</title>"), std::string::npos) << "the day 40 days ago was drawn";
  EXPECT_NE(chart.find(">1005</text>"), std::string::npos);
  EXPECT_EQ(dom.find("<script"), std::string::npos);
  // Skin.dll's signature came only from 1005, the newest version.
  EXPECT_NE(dom.find("1005에서 처음"), std::string::npos) << dom;
  const std::size_t skin = dom.find(">Skin.dll</a>");
  ASSERT_NE(skin, std::string::npos);
  const std::string link = dom.substr(dom.rfind("/signatures/", skin), 40);
  ASSERT_TRUE(Browse(folder, base + link.substr(0, link.find('"')), folder + "/trend-signature.png", &dom));
  EXPECT_NE(dom.find(" 1005: 9건</title>"), std::string::npos) << dom;
  EXPECT_EQ(dom.find(" 1004: "), std::string::npos) << "another signature's reports in its chart";
  EXPECT_EQ(server.Stop(), 0);
}

}  // namespace
}  // namespace ulrt
