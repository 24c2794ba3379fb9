// ulmet-reports serve as a program, against each store: what it answers to
// good and bad posts and what it keeps, its pages, and two receivers on
// one store.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <thread>

#include "harness.h"
#include "harness/proc.h"
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
// ones are stored exactly, once (the same body again is the same report;
// another body is another, however long their beginning in common). A
// refusal that leaves a body unread ends the connection: the body, here
// requests and a whole post of their own, is never read as further requests.
TEST_P(Receiver, AnswersEveryInputAndStoresOnlyWholeReports) {
  Begin("inputs");
  const std::string post = "POST /report HTTP/1.1\r\nContent-Type: application/x-www-form-urlencoded\r\n";
  const std::string good = ReportBody("good", "Version : 4001\n");
  const std::string script = "<script>document.title='owned'</script>\n";
  const std::string big = ReportBody("big", std::string(ulr::kMaxLogBytes + 1, 'x'));
  // Requests enough to be read beyond the server's first buffer, then a post.
  std::string smuggled;
  for (int i = 0; i < 30; ++i) smuggled += "GET /x HTTP/1.1\r\nHost: x\r\nX-Pad: " + std::string(200, 'p') + "\r\n\r\n";
  smuggled += PostRequest("/report", ReportBody("smuggled", "x\n"));
  char chunk[16];
  std::snprintf(chunk, sizeof chunk, "%zx\r\n", smuggled.size());
  const std::string longLog(5000, 'a');
  const struct {
    const char* name;
    std::string request;
    bool halfClose;
    int status;  // -1: no answer
    bool closes;  // the server ends the connection after the answer
  } cases[] = {
      {"a whole report", Request(post, good), false, 200, false},
      {"the same post again", Request(post, good), false, 200, false},
      {"a script in the log", Request(post, ReportBody("script", script)), false, 200, false},
      {"a long log", Request(post, ReportBody("long", longLog + "1\n")), false, 200, false},
      {"a long log that differs at its end only", Request(post, ReportBody("long", longLog + "2\n")), false, 200,
       false},
      {"truncated body, sender gone", Request(post, good).substr(0, Request(post, good).size() - 9), true, 400, true},
      {"truncated form", Request(post, good.substr(0, good.find("&conts="))), false, 400, true},
      {"wrong type", Request("POST /report HTTP/1.1\r\nContent-Type: text/plain\r\n", smuggled), false, 415, true},
      {"compressed", Request(post + "Content-Encoding: gzip\r\n", smuggled), false, 415, true},
      {"no length", post + "Host: x\r\nTransfer-Encoding: chunked\r\n\r\n" + chunk + smuggled + "\r\n0\r\n\r\n",
       false, 411, true},
      {"oversized body", post + "Host: x\r\nContent-Length: 7000000\r\n\r\n" + smuggled, false, 413, true},
      {"oversized log", Request(post, big), false, 413, true},
      {"broken escape", Request(post, good.substr(0, good.size() - 2) + "%4"), false, 400, true},
      {"binary bytes", Request(post, ReportBody("bin", "a") + "\x01\xFF"), false, 400, true},
      {"zero byte in a field", Request(post, std::string("uid=z\0", 6) + good.substr(good.find("&fver"))), false, 400,
       true},
      {"a field missing", Request(post, "uid=m&fver=ulmet3&ver=1&fadd=1&fmod=m&lmod=n&conts=x"), false, 400, true},
      {"GET on the receiving path", "GET /report HTTP/1.1\r\nHost: x\r\n\r\n", false, 405, true},
      {"another path", Request("POST /other HTTP/1.1\r\nContent-Type: application/x-www-form-urlencoded\r\n",
                               smuggled), false, 405, true},
  };
  for (const auto& c : cases) {
    const Exchanged e = Exchange(server_->host(), server_->port(), c.request, "", c.halfClose, c.closes);
    EXPECT_EQ(e.status, c.status) << c.name;
    EXPECT_TRUE(e.closed || !c.closes) << c.name << ": the connection stayed open";
  }
  auto stored = Stored();
  ASSERT_EQ(stored.size(), 4u) << server_->Output();
  EXPECT_EQ(stored[0].form.uid, "good");
  EXPECT_EQ(stored[0].form.ver, "4001\n");
  EXPECT_EQ(stored[0].form.conts, "Version : 4001\r\n");
  EXPECT_EQ(stored[1].form.uid, "script");
  EXPECT_EQ(ulr::RestoreLog(stored[1].form.conts), script);
  EXPECT_EQ(ulr::RestoreLog(stored[2].form.conts), longLog + "1\n");
  EXPECT_EQ(ulr::RestoreLog(stored[3].form.conts), longLog + "2\n");
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
  ASSERT_EQ(GetPage("127.0.0.1", nginx.tls_port(), "/", kPassword, &b, nginx.certificate()), 200);
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

// Senders that trickle their bytes hold no thread for long: a real post
// from another address is answered within 2 s while 64 of them go on. The
// receiver takes 8 connections at once from one address, gives a request's
// head one second while nearly all its threads are taken (64 addresses),
// and behind nginx sees whole posts only. A head that never ends is
// answered 503 (the updater keeps its log) once its time is up.
TEST_P(Receiver, ARealPostIsAnsweredWhileSlowSendersTrickle) {
  Begin("slow");
  std::vector<std::string> oneAddress(64, "127.0.0.1"), manyAddresses;
  for (int i = 1; i <= 64; ++i) manyAddresses.push_back("127.0.1." + std::to_string(i));
  const struct {
    const char* name;
    const std::vector<std::string>& from;
    std::vector<std::string> options;
    bool nginx;
  } cases[] = {
      {"64 from one address", oneAddress, {}, false},
      {"64 from 64 addresses", manyAddresses, {}, false},
      {"64 from one address to nginx", oneAddress, {"--trust-proxy", "--path", "/report/exception.php"}, true},
  };
  int n = 0;
  for (const auto& c : cases) {
    ReportsServer receiver(store_, TestFolder("slow-" + std::to_string(++n) + "-" + GetParam()), "", c.options);
    ASSERT_TRUE(receiver.Start()) << receiver.Output();
    Nginx nginx(folder_ + "/" + std::to_string(n), {receiver.port()});
    ASSERT_TRUE(!c.nginx || nginx.Start()) << nginx.Output();
    const int port = c.nginx ? nginx.port() : receiver.port();
    SlowSenders slow("127.0.0.1", port, c.from);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const Exchanged e = Exchange("127.0.0.1", port, PostRequest(c.nginx ? "/report/exception.php" : "/report",
                                                                 ReportBody("real-" + std::to_string(n), "x\n")),
                                 "127.0.0.2");
    EXPECT_EQ(e.status, 200) << c.name << "\n" << receiver.Output();
    EXPECT_LE(e.seconds, 2.0) << c.name;
  }
  EXPECT_EQ(Stored().size(), 3u);
  ReportsServer receiver(store_, TestFolder("slow-head-" + GetParam()), "", {"--request-seconds", "1"});
  ASSERT_TRUE(receiver.Start()) << receiver.Output();
  const Exchanged e = Exchange(receiver.host(), receiver.port(), "POST /report HTTP/1.1\r\nHost: x\r\n");
  EXPECT_EQ(e.status, 503) << e.answer;
  EXPECT_LE(e.seconds, 2.0);
}

// A flood from one address is refused (429: the updater deletes its log)
// once it has posted 30 at once, while another address's post is stored;
// the same behind the shipped nginx block.
TEST_P(Receiver, AFloodFromOneAddressIsRefusedWhileAnothersPostIsStored) {
  Begin("flood");
  for (const bool behindNginx : {false, true}) {
    const std::string path = behindNginx ? "/report/exception.php" : "/report";
    ReportsServer receiver(store_, TestFolder("flood-behind-" + GetParam()), "", {"--path", path, "--trust-proxy"});
    std::unique_ptr<Nginx> nginx;
    if (behindNginx) {
      ASSERT_TRUE(receiver.Start()) << receiver.Output();
      nginx = std::make_unique<Nginx>(folder_ + "/behind", std::vector<int>{receiver.port()});
      ASSERT_TRUE(nginx->Start()) << nginx->Output();
    }
    const int port = behindNginx ? nginx->port() : server_->port();
    const std::string prefix = behindNginx ? "nginx-flood" : "flood";
    const std::size_t before = Stored().size();
    int stored = 0, refused = 0;
    for (int i = 0; i < 45; ++i) {
      const int status = Exchange("127.0.0.1", port, PostRequest(path, LoadBody(prefix, i))).status;
      EXPECT_TRUE(status == 200 || status == 429) << prefix << " " << i << ": " << status;
      stored += status == 200;
      refused += status == 429;
    }
    EXPECT_GE(stored, 30) << prefix;
    EXPECT_GE(refused, 10) << prefix;
    EXPECT_EQ(Exchange("127.0.0.1", port, PostRequest(path, LoadBody(prefix + "-other", 0)), "127.0.0.2").status, 200)
        << prefix;
    EXPECT_EQ(Stored().size(), before + static_cast<std::size_t>(stored) + 1) << prefix;
  }
}

// Below the free-space floor nothing is written and nothing stored is
// lost: the posts are refused with 503 (the updater keeps its log and
// posts it again at its next start) until the disk has room again.
TEST_P(Receiver, BelowTheFreeSpaceFloorNothingIsWrittenAndNothingStoredIsLost) {
  folder_ = TestFolder("floor-" + GetParam());
  SmallDisk disk(folder_ + "/disk", 48);
  ASSERT_TRUE(disk.mounted()) << scn::ReadText(folder_ + "/disk.mount.log");
  store_ = GetParam() == "sqlite" ? "sqlite:" + folder_ + "/disk/reports.db" : FreshStore(GetParam(), "floor", folder_);
  std::vector<std::string> options = {"--min-free-mb", "32"};
  if (GetParam() != "sqlite") options.insert(options.end(), {"--free-space-path", folder_ + "/disk"});
  server_ = std::make_unique<ReportsServer>(store_, folder_, kPassword, options);
  ASSERT_TRUE(server_->Start()) << server_->Output();
  for (int i = 0; i < 3; ++i) ASSERT_EQ(PostReport(server_->host(), server_->port(), "/report", LoadBody("kept", i)), 200);
  const auto kept = Stored();
  // The disk filled by something else, to 24 MB free.
  {
    std::ofstream filler(folder_ + "/disk/filler", std::ios::binary);
    filler << std::string(20 << 20, 'f');
  }
  for (int i = 0; i < 3; ++i) {
    std::string answer;
    EXPECT_EQ(RawExchange(server_->host(), server_->port(), PostRequest("/report", LoadBody("refused", i)), false, &answer), 503);
    EXPECT_NE(answer.find("Retry-After: "), std::string::npos) << answer;
  }
  const auto after = Stored();
  ASSERT_EQ(after.size(), kept.size());
  for (std::size_t i = 0; i < kept.size(); ++i) EXPECT_TRUE(after[i].form.conts == kept[i].form.conts) << i;
  std::remove((folder_ + "/disk/filler").c_str());
  EXPECT_EQ(PostReport(server_->host(), server_->port(), "/report", LoadBody("room-again", 0)), 200);
  EXPECT_EQ(server_->Stop(), 0) << server_->Output();
}

// Reports older than the days kept go, by the operator's command and by
// serve's setting, and with them a signature that no report is left of.
TEST_P(Receiver, ReportsOlderThanTheDaysKeptAreRemoved) {
  for (const bool bySetting : {false, true}) {
    SCOPED_TRACE(bySetting ? "serve --keep-days" : "ulmet-reports prune");
    const std::string name = bySetting ? "retention-setting" : "retention-command";
    const std::string folder = TestFolder(name + "-" + GetParam());
    const std::string store = FreshStore(GetParam(), name, folder);
    ReportsServer receiver(store, folder, kPassword);
    ASSERT_TRUE(receiver.Start()) << receiver.Output();
    // Two of one signature and one of another, aged 40 days; one new of the first.
    const struct {
      const char* uid;
      const char* fmod;
    } posts[] = {{"old-1", "UlmetMain.exe"}, {"old-2", "UlmetMain.exe"}, {"old-3", "Skin.dll"}, {"new-1", "UlmetMain.exe"}};
    for (const auto& p : posts) ASSERT_EQ(PostReport(receiver.host(), receiver.port(), "/report", ReportBody(p.uid, "x\n", p.fmod)), 200);
    EXPECT_EQ(receiver.Stop(), 0);
    std::string error;
    auto s = ulr::OpenStore(store, false, &error);
    ASSERT_TRUE(s) << error;
    std::vector<ulr::StoredReport> all;
    ASSERT_TRUE(s->ReportsAfter(0, 0, 10, &all, &error)) << error;
    ASSERT_EQ(all.size(), 4u);
    ASSERT_TRUE(ExecSql(store, "UPDATE reports SET received_ms = received_ms - 3456000000 WHERE id <= " +
                                   std::to_string(all[2].id)));
    ASSERT_TRUE(ExecSql(store, "UPDATE signatures SET created_ms = created_ms - 3456000000"));
    if (bySetting) {
      ReportsServer keeping(store, folder, kPassword, {"--keep-days", "30"});
      ASSERT_TRUE(keeping.Start()) << keeping.Output();
      for (int i = 0; i < 100 && s->ReportsAfter(0, 0, 10, &all, &error) && all.size() > 1; ++i) scn::SleepSeconds(0.05);
      EXPECT_EQ(keeping.Stop(), 0) << keeping.Output();
    } else {
      scn::ProcSpec p;
      p.argv = {ULR_BIN, "prune", "--store", store, "--days", "30"};
      p.stdoutFile = p.stderrFile = folder + "/prune.log";
      EXPECT_EQ(scn::RunProcess(p, 60).exitCode, 0) << scn::ReadText(p.stdoutFile);
      EXPECT_NE(scn::ReadText(p.stdoutFile).find("removed 3 reports"), std::string::npos) << scn::ReadText(p.stdoutFile);
    }
    ASSERT_TRUE(s->ReportsAfter(0, 0, 10, &all, &error)) << error;
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].form.uid, "new-1");
    std::vector<ulr::SignatureSummary> signatures;
    ASSERT_TRUE(s->Signatures(10, 0, &signatures, &error)) << error;
    EXPECT_EQ(signatures.size(), 1u);
  }
}

// The pages go only to the allowed addresses, and a sender whose logins
// failed ten times is refused even the right password for a while; behind
// nginx, only over TLS (the plain block refuses them) with the same limit.
TEST_P(Receiver, PagesOnlyToAllowedAddressesOrOverTlsWithFailedLoginsLimited) {
  Begin("logins", {"--pages-from", "127.0.0.1,127.0.0.2"});
  ReportsServer behind(store_, TestFolder("logins-nginx-" + GetParam()), kPassword, {"--trust-proxy"});
  ASSERT_TRUE(behind.Start()) << behind.Output();
  Nginx nginx(folder_, {behind.port()});
  ASSERT_TRUE(nginx.Start()) << nginx.Output();
  const struct {
    const char* name;
    std::function<int(const std::string& password)> get;
  } cases[] = {
      {"direct", [&](const std::string& password) {
         return Exchange(server_->host(), server_->port(), PageRequest("/", password), "127.0.0.1").status;
       }},
      {"nginx over TLS", [&](const std::string& password) {
         return GetPage("127.0.0.1", nginx.tls_port(), "/", password, nullptr, nginx.certificate());
       }},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.get(kPassword), 200) << c.name;
    EXPECT_EQ(c.get(""), 401) << c.name;
    for (int i = 0; i < 10; ++i) EXPECT_EQ(c.get("wrong-" + std::to_string(i)), 401) << c.name;
    EXPECT_EQ(c.get(kPassword), 429) << c.name;
  }
  EXPECT_EQ(Exchange(server_->host(), server_->port(), PageRequest("/", kPassword), "127.0.0.2").status, 200);
  EXPECT_EQ(Exchange(server_->host(), server_->port(), PageRequest("/", kPassword), "127.0.0.3").status, 403);
  std::string page;
  EXPECT_EQ(GetPage("127.0.0.1", nginx.port(), "/", kPassword, &page), 403) << page;
}

INSTANTIATE_TEST_SUITE_P(Stores, Receiver, ::testing::ValuesIn(StoreKinds()),
                         [](const auto& info) { return info.param; });

}  // namespace
}  // namespace ulrt
