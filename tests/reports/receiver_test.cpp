// ulmet-reports serve as a program, against each store: what it answers to
// good and bad posts and what it keeps, its pages, and two receivers on
// one store.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "harness.h"
#include "load.h"
#include "receive/report_form.h"
#include "store/store.h"

namespace ulrt {
namespace {

const char kPassword[] = "operator-secret-1";

class Receiver : public ::testing::TestWithParam<std::string> {
 protected:
  void Begin(const std::string& name, const std::vector<std::string>& extra = {}) {
    folder_ = TestFolder(name + "-" + GetParam());
    store_ = FreshStore(GetParam(), name, folder_);
    server_ = std::make_unique<ReportsServer>(store_, folder_, kPassword, extra);
    ASSERT_TRUE(server_->Start()) << server_->Output();
  }
  std::unique_ptr<ulr::ReportStore> OpenStored() {
    std::string error;
    auto s = ulr::OpenStore(store_, false, &error);
    EXPECT_TRUE(s) << error;
    return s;
  }
  std::vector<ulr::StoredReport> Stored() {
    std::vector<ulr::StoredReport> all;
    std::string error;
    auto s = OpenStored();
    if (s) {
      EXPECT_TRUE(s->ReportsAfter(0, 0, 100000, &all, &error)) << error;
    }
    return all;
  }
  std::string Request(const std::string& head, const std::string& body) {
    return head + "Host: 127.0.0.1\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
  }

  std::string folder_, store_;
  std::unique_ptr<ReportsServer> server_;
};

// Every bad input is answered with its status and stores nothing; the good
// ones are stored exactly, once.
TEST_P(Receiver, AnswersEveryInputAndStoresOnlyWholeReports) {
  Begin("inputs");
  const std::string post = "POST /report HTTP/1.1\r\nContent-Type: application/x-www-form-urlencoded\r\n";
  const std::string good = ReportBody("good", "Version : 4001\n");
  const std::string script = "<script>document.title='owned'</script>\n";
  const std::string big = ReportBody("big", std::string(ulr::kMaxLogBytes + 1, 'x'));
  const struct {
    const char* name;
    std::string request;
    bool halfClose;
    int status;  // -1: no answer
  } cases[] = {
      {"a whole report", Request(post, good), false, 200},
      {"the same post again", Request(post, good), false, 200},
      {"a script in the log", Request(post, ReportBody("script", script)), false, 200},
      {"truncated body, sender gone", Request(post, good).substr(0, 300), true, -1},
      {"truncated form", Request(post, good.substr(0, good.find("&conts="))), false, 400},
      {"wrong type", Request("POST /report HTTP/1.1\r\nContent-Type: text/plain\r\n", good), false, 415},
      {"compressed", Request(post + "Content-Encoding: gzip\r\n", good), false, 415},
      {"no length", post + "Host: x\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nuid=1\r\n0\r\n\r\n", false, 411},
      {"oversized body", post + "Host: x\r\nContent-Length: 7000000\r\n\r\n", false, 413},  // answered before it is sent
      {"oversized log", Request(post, big), false, 413},
      {"broken escape", Request(post, good.substr(0, good.size() - 2) + "%4"), false, 400},
      {"binary bytes", Request(post, ReportBody("bin", "a") + "\x01\xFF"), false, 400},
      {"zero byte in a field", Request(post, std::string("uid=z\0", 6) + good.substr(good.find("&fver"))), false, 400},
      {"a field missing", Request(post, "uid=m&fver=ulmet3&ver=1&fadd=1&fmod=m&lmod=n&conts=x"), false, 400},
      {"GET on the receiving path", "GET /report HTTP/1.1\r\nHost: x\r\n\r\n", false, 405},
      {"another path", Request("POST /other HTTP/1.1\r\nContent-Type: application/x-www-form-urlencoded\r\n",
                               good), false, 405},
  };
  for (const auto& c : cases) {
    const int status = RawExchange(server_->host(), server_->port(), c.request, c.halfClose);
    EXPECT_EQ(status, c.status) << c.name;
  }
  auto stored = Stored();
  ASSERT_EQ(stored.size(), 2u) << server_->Output();
  EXPECT_EQ(stored[0].form.uid, "good");
  EXPECT_EQ(stored[0].form.ver, "4001\n");
  EXPECT_EQ(stored[0].form.conts, "Version : 4001\r\n");
  EXPECT_EQ(stored[1].form.uid, "script");
  EXPECT_EQ(ulr::RestoreLog(stored[1].form.conts), script);
  EXPECT_EQ(server_->Stop(), 0) << server_->Output();
}

// The operator's pages: behind the password, the counts per signature,
// the report decoded from code page 949, player text escaped, the exports
// and the log byte for byte.
TEST_P(Receiver, PagesShowTheReportsToTheOperatorOnly) {
  Begin("pages");
  const std::string korean = "\xBF\xEF\xB8\xDE \xBF\xC0\xB7\xF9 <b>x</b>\n";  // "울메 오류"
  for (int i = 0; i < 3; ++i)
    ASSERT_EQ(PostReport(server_->host(), server_->port(), "/report", ReportBody("k" + std::to_string(i), korean)), 200);
  ASSERT_EQ(PostReport(server_->host(), server_->port(), "/report", LoadBody("other", 1)), 200);

  std::string page;
  EXPECT_EQ(GetPage(server_->host(), server_->port(), "/", "", &page), 401);
  EXPECT_EQ(GetPage(server_->host(), server_->port(), "/", "wrong", &page), 401);
  ASSERT_EQ(GetPage(server_->host(), server_->port(), "/", kPassword, &page), 200);
  EXPECT_NE(page.find("받은 보고 4건"), std::string::npos) << page;
  const std::size_t three = page.find("<td class=n>3</td>");
  ASSERT_NE(three, std::string::npos) << page;
  const std::size_t link = page.rfind("/signatures/", three);
  ASSERT_NE(link, std::string::npos);
  const std::string signature = page.substr(link, page.find('"', link) - link);

  ASSERT_EQ(GetPage(server_->host(), server_->port(), signature, kPassword, &page), 200);
  EXPECT_NE(page.find("4001 <span class=none>(3건)</span>"), std::string::npos) << page;
  auto stored = Stored();
  ASSERT_EQ(stored.size(), 4u);
  const std::string report = "/reports/" + std::to_string(stored[0].id);
  ASSERT_EQ(GetPage(server_->host(), server_->port(), report, kPassword, &page), 200);
  EXPECT_NE(page.find("울메 오류 &lt;b&gt;x&lt;/b&gt;"), std::string::npos) << page;
  EXPECT_EQ(page.find("<b>x"), std::string::npos);

  ASSERT_EQ(GetPage(server_->host(), server_->port(), report + "/log", kPassword, &page), 200);
  EXPECT_EQ(page, korean);
  ASSERT_EQ(GetPage(server_->host(), server_->port(), signature + "/reports.csv", kPassword, &page), 200);
  EXPECT_EQ(page.rfind("\xEF\xBB\xBF\"report\"", 0), 0u);
  EXPECT_EQ(std::count(page.begin(), page.end(), '\n'), 3 * 2 + 1) << page;  // header, 3 reports of 2 lines
  EXPECT_NE(page.find("\"울메 오류 <b>x</b>\n\""), std::string::npos) << page;
  ASSERT_EQ(GetPage(server_->host(), server_->port(), signature + "/reports.json", kPassword, &page), 200);
  EXPECT_NE(page.find("\"reports\":3,"), std::string::npos) << page;
  EXPECT_NE(page.find("\"log\":\"울메 오류 \\u003cb\\u003ex\\u003c/b\\u003e\\n\""), std::string::npos) << page;
  EXPECT_EQ(GetPage(server_->host(), server_->port(), "/reports/999999", kPassword, &page), 404);
}

// Two receivers behind the shipped nginx block write into one store and
// both show everything, the largest post included; a store made by a newer
// program is refused at start.
TEST_P(Receiver, TwoReceiversBehindNginxShareOneStore) {
  const std::string path = "/report/exception.php";
  const std::vector<std::string> behind = {"--path", path, "--trust-proxy"};
  Begin("shared", behind);
  ReportsServer other(store_, TestFolder("shared-second-" + GetParam()), kPassword, behind);
  ASSERT_TRUE(other.Start()) << other.Output();
  Nginx nginx(folder_, {server_->port(), other.port()});
  ASSERT_TRUE(nginx.Start()) << nginx.Output();
  for (int i = 0; i < 20; ++i) ASSERT_EQ(PostReport("127.0.0.1", nginx.port(), path, LoadBody("shared", i)), 200);
  const std::string lineFeeds(ulr::kMaxLogBytes, '\n');
  ASSERT_EQ(PostReport("127.0.0.1", nginx.port(), path, ReportBody("largest", lineFeeds)), 200) << nginx.Output();
  std::string a, b;
  ASSERT_EQ(GetPage(server_->host(), server_->port(), "/", kPassword, &a), 200);
  ASSERT_EQ(GetPage(other.host(), other.port(), "/", kPassword, &b), 200);
  EXPECT_NE(a.find("받은 보고 21건"), std::string::npos);
  EXPECT_EQ(a, b);
  ASSERT_EQ(GetPage("127.0.0.1", nginx.port(), "/", kPassword, &b), 200);
  EXPECT_EQ(a, b);
  const auto stored = Stored();
  ASSERT_EQ(stored.size(), 21u);
  EXPECT_TRUE(ulr::RestoreLog(stored.back().form.conts) == lineFeeds);
  EXPECT_EQ(other.Stop(), 0);
  EXPECT_EQ(server_->Stop(), 0);

  ASSERT_TRUE(ExecSql(store_, "UPDATE ulmet_reports_schema SET version = 99"));
  EXPECT_FALSE(server_->Start());
  EXPECT_NE(server_->Output().find("schema 99, made by a newer ulmet-reports"), std::string::npos)
      << server_->Output();
}

INSTANTIATE_TEST_SUITE_P(Stores, Receiver, ::testing::ValuesIn(StoreKinds()),
                         [](const auto& info) { return info.param; });

}  // namespace
}  // namespace ulrt
