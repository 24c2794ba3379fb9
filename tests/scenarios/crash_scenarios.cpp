// Crash reports: the client's logs in C:\Ulmet\Log are posted to the report
// server, one form post each, and deleted once a post went out. The bodies
// are read back from the server's request log and taken apart here.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <map>
#include <thread>

#include "harness/proc.h"
#include "harness/scenario.h"

namespace scn {
namespace {

const char kReportPath[] = "/report/exception.php";
// The body's fields, in the order the report server receives them.
const std::vector<std::string> kFieldOrder = {"uid", "fver", "ver", "fadd", "fmod", "ladd", "lmod", "conts"};

struct Form {
  std::vector<std::string> names;
  std::map<std::string, std::string> values;
};

// Splits "a=1&b=2" into its fields. Only conts is encoded; the other
// values are raw but never hold '&' in these scenarios.
Form SplitForm(const std::string& body) {
  Form form;
  size_t start = 0;
  for (;;) {
    size_t amp = body.find('&', start);
    std::string field = body.substr(start, amp == std::string::npos ? std::string::npos : amp - start);
    size_t eq = field.find('=');
    std::string name = field.substr(0, eq);
    form.names.push_back(name);
    form.values[name] = eq == std::string::npos ? "" : field.substr(eq + 1);
    if (amp == std::string::npos) break;
    start = amp + 1;
  }
  return form;
}

bool StaysInForm(unsigned char c) {
  return c == '*' || c == '-' || c == '.' || c == '@' || c == '_' || (c >= '0' && c <= '9') ||
         (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Form decoding ('+' -> blank, %XX -> byte) that also insists on the one
// encoding the updater must produce: upper-case escapes, and escapes only
// for bytes that may not stand as they are. Returns false with the reason.
bool DecodeForm(const std::string& in, std::string* out, std::string* why) {
  out->clear();
  for (size_t i = 0; i < in.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(in[i]);
    if (c == '+') {
      *out += ' ';
    } else if (c == '%') {
      auto upperHex = [](char h) { return (h >= '0' && h <= '9') || (h >= 'A' && h <= 'F'); };
      if (i + 2 >= in.size() || !upperHex(in[i + 1]) || !upperHex(in[i + 2])) {
        *why = "bad escape at " + std::to_string(i) + ": " + in.substr(i, 3);
        return false;
      }
      unsigned char b = static_cast<unsigned char>(std::stoi(in.substr(i + 1, 2), nullptr, 16));
      if (StaysInForm(b) || b == ' ') {
        *why = "needless escape " + in.substr(i, 3) + " at " + std::to_string(i);
        return false;
      }
      *out += static_cast<char>(b);
      i += 2;
    } else if (StaysInForm(c)) {
      *out += static_cast<char>(c);
    } else {
      *why = "unencoded byte " + std::to_string(c) + " at " + std::to_string(i);
      return false;
    }
  }
  return true;
}

std::string WithCrLf(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

std::string Shown(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else out += c;
  }
  return out;
}

// What the summary fields of one log should read.
struct Expected {
  std::string uid, ver, fadd, fmod, ladd, lmod;
};

class Crash : public Scenario {
 protected:
  std::vector<tb::Record> Posts() const {
    std::vector<tb::Record> posts;
    for (const auto& r : Requests())
      if (r.at("method") == "POST") posts.push_back(r);
    return posts;
  }

  // The POST whose uid is uid, or null.
  const tb::Record* PostFor(const std::vector<tb::Record>& posts, const std::string& uid) const {
    for (const auto& p : posts)
      if (SplitForm(p.at("body")).values["uid"] == uid) return &p;
    return nullptr;
  }

  // The whole request: path, header, fields in order, every summary field
  // and the contents, byte for byte.
  void ExpectReport(const tb::Record& post, const Expected& e, const std::string& fileBytes) {
    SCOPED_TRACE("report of " + e.uid);
    EXPECT_EQ(post.at("path"), kReportPath);
    EXPECT_NE(post.at("headers").find("Content-Type: application/x-www-form-urlencoded\r\n"), std::string::npos)
        << post.at("headers");
    Form form = SplitForm(post.at("body"));
    EXPECT_EQ(form.names, kFieldOrder);
    EXPECT_EQ(form.values["uid"], e.uid);
    EXPECT_EQ(form.values["fver"], "ulmet3");
    EXPECT_EQ(Shown(form.values["ver"]), Shown(e.ver));
    EXPECT_EQ(form.values["fadd"], e.fadd);
    EXPECT_EQ(form.values["fmod"], e.fmod);
    EXPECT_EQ(form.values["ladd"], e.ladd);
    EXPECT_EQ(form.values["lmod"], e.lmod);
    std::string conts, why;
    ASSERT_TRUE(DecodeForm(form.values["conts"], &conts, &why)) << why;
    std::string want = WithCrLf(fileBytes);
    EXPECT_EQ(conts.size(), want.size());
    EXPECT_TRUE(conts == want) << "conts differs from the log with CR LF line ends";
  }

  long long Seq(const tb::Record& r) const { return std::atoll(r.at("seq").c_str()); }

  // The sequence number of the first request for path, or -1.
  long long FirstRequest(const std::string& path) const {
    for (const auto& r : Requests())
      if (r.at("path") == path) return Seq(r);
    return -1;
  }
};

// Two logs of different shapes, nothing to update: the sequence posts both
// before it launches the client.
TEST_F(Crash, NothingToUpdatePostsEachLogWithTheFormatsBodyThenDeletesIt) {
  tb::CrashLog first;
  first.version = "4001";  // shorter than 7: its line feed travels along
  first.faultAddress = "00AB12CD";
  first.faultModule = "C:\\Ulmet\\UlmetMain.exe";
  first.stack = {{"00012345", "C:\\Ulmet\\UlmetMain.exe"}, {"7C80ABCD", "C:\\WINDOWS\\system32\\KERNEL32.dll"}};
  // Blanks, the form's own signs and Korean text in code page 949 ("울메").
  first.extra = "note: a+b=c & 100% done; path=C:\\Ulmet\\x?y#z\n\xBF\xEF\xB8\xDE \xB8\xDE\tend\n";
  tb::CrashLog second;
  second.version = "4.0.1.7b";  // longer than 7: cut
  second.faultAddress = "0000BEEF";
  second.faultModule = "D:\\Game Data\\plug in.dll";
  second.stack = {{"00001000", "D:\\Game Data\\plug in.dll"}, {"00F00BA4", "C:\\Ulmet\\Skin.dll"}};
  second.extra = "*-.@_ stay as they are ~!$'()\n";

  Given().InstalledClient(1003).CrashLog("1234_exception.log", first).CrashLog("5678_exception.log", second);
  Run(LaunchArg(2));

  auto posts = Posts();
  EXPECT_EQ(posts.size(), 2u);
  const tb::Record* p1 = PostFor(posts, "1234");
  const tb::Record* p2 = PostFor(posts, "5678");
  ASSERT_NE(p1, nullptr) << "no report with uid 1234";
  ASSERT_NE(p2, nullptr) << "no report with uid 5678";
  ExpectReport(*p1, {"1234", "4001\n", "00AB12CD", "UlmetMain.exe", "7C80ABCD", "KERNEL32.dll"},
               tb::FormatCrashLog(first));
  ExpectReport(*p2, {"5678", "4.0.1.7", "0000BEEF", "plug in.dll", "00F00BA4", "Skin.dll"},
               tb::FormatCrashLog(second));
  EXPECT_FALSE(ClientFileExists("Log\\1234_exception.log"));
  EXPECT_FALSE(ClientFileExists("Log\\5678_exception.log"));
  EXPECT_TRUE(ClientFileExists("Log")) << "the Log folder itself stays";
  // The application's name is its agent, as for its downloads.
  EXPECT_NE(p1->at("headers").find("User-Agent: Ulmet\r\n"), std::string::npos) << p1->at("headers");

  // The sequence's caller: after the update list, no update file fetched,
  // and the client started after the posts.
  long long list = FirstRequest("/Ulmet3/UpdateList.dat");
  ASSERT_GE(list, 0);
  EXPECT_GT(Seq(*p1), list);
  EXPECT_GT(Seq(*p2), list);
  for (const auto& r : Requests()) EXPECT_EQ(r.at("path").rfind("/Ulmet3/files/", 0), std::string::npos) << r.at("path");
  ExpectNoBox();
  ExpectStarted("UlmetMain.exe", "C:\\Ulmet\\UlmetMain.exe " + QuotedArg(LaunchArg(2)));
  auto starts = Starts();
  ASSERT_FALSE(starts.empty());
  long long launched = std::atoll(starts[0].at("time_ms").c_str());
  EXPECT_LE(std::atoll(p1->at("time_ms").c_str()), launched);
  EXPECT_LE(std::atoll(p2->at("time_ms").c_str()), launched);
}

// Entries pending: the worker posts the logs before its first download.
TEST_F(Crash, WorkerPostsTheLogsBeforeTheUpdateFiles) {
  tb::CrashLog log;
  log.version = "4002";
  Given().InstalledClient(1000)
         .CrashLog("77_exception.log", log)
         .PublishedFile("a.dll", "a v1")
         .Release("version 1001 a.dll");
  Run(LaunchArg(2));

  auto posts = Posts();
  ASSERT_EQ(posts.size(), 1u);
  ExpectReport(posts[0], {"77", "4002\n", "0041A2B3", "UlmetMain.exe", "00023456", "KERNEL32.dll"},
               tb::FormatCrashLog(log));
  long long list = FirstRequest("/Ulmet3/UpdateList.dat");
  long long file = FirstRequest("/Ulmet3/files/a.dll");
  ASSERT_GE(list, 0);
  ASSERT_GE(file, 0) << "the worker did not fetch the update file";
  EXPECT_GT(Seq(posts[0]), list);
  EXPECT_LT(Seq(posts[0]), file) << "the worker posts before it walks the update list";
  EXPECT_FALSE(ClientFileExists("Log\\77_exception.log"));
  ExpectClientFile("a.dll", "a v1");
  ExpectStarted("UlmetMain.exe", QuotedArg(LaunchArg(2)));
}

// The name test is on the lower-cased name; the uid keeps the name's case.
TEST_F(Crash, UpperCaseLogNameIsRecognisedAndItsUidKeepsItsCase) {
  tb::CrashLog log;
  Given().InstalledClient(1003).CrashLog("Abc_Def_EXCEPTION.LOG", log);
  Run(LaunchArg(2));
  auto posts = Posts();
  ASSERT_EQ(posts.size(), 1u);
  ExpectReport(posts[0], {"Abc_Def", "4001\n", "0041A2B3", "UlmetMain.exe", "00023456", "KERNEL32.dll"},
               tb::FormatCrashLog(log));
  EXPECT_FALSE(ClientFileExists("Log\\Abc_Def_EXCEPTION.LOG"));
  ExpectStarted("UlmetMain.exe", QuotedArg(LaunchArg(2)));
}

// One byte above 1 MB: deleted and never sent. Exactly 1 MB still goes out
// whole.
TEST_F(Crash, LogAboveOneMegabyteIsDeletedUnsent) {
  tb::CrashLog big;
  big.extra = "";
  size_t head = tb::FormatCrashLog(big).size();
  big.extra = std::string(1048576 + 1 - head - 1, 'x') + "\n";
  tb::CrashLog edge = big;
  edge.extra = std::string(1048576 - head - 1, 'y') + "\n";
  ASSERT_EQ(tb::FormatCrashLog(big).size(), 1048577u);
  ASSERT_EQ(tb::FormatCrashLog(edge).size(), 1048576u);

  Given().InstalledClient(1003).CrashLog("big_exception.log", big).CrashLog("edge_exception.log", edge);
  Run(LaunchArg(2));

  auto posts = Posts();
  EXPECT_EQ(PostFor(posts, "big"), nullptr) << "the log above 1 MB was sent";
  const tb::Record* p = PostFor(posts, "edge");
  ASSERT_NE(p, nullptr) << "the log of exactly 1 MB was not sent";
  EXPECT_EQ(posts.size(), 1u);
  ExpectReport(*p, {"edge", "4001\n", "0041A2B3", "UlmetMain.exe", "00023456", "KERNEL32.dll"},
               tb::FormatCrashLog(edge));
  EXPECT_FALSE(ClientFileExists("Log\\big_exception.log"));
  EXPECT_FALSE(ClientFileExists("Log\\edge_exception.log"));
  ExpectStarted("UlmetMain.exe", QuotedArg(LaunchArg(2)));
}

// Only names holding "_exception.log" are crash logs.
TEST_F(Crash, OtherFilesInTheLogFolderAreLeftAlone) {
  Given().InstalledClient(1003)
         .ClientFile("Log\\notes.txt", "the user's own notes\n")
         .ClientFile("Log\\old_exception.txt", "not a crash log\n")
         .CrashLog("42_exception.log");
  Run(LaunchArg(2));
  auto posts = Posts();
  ASSERT_EQ(posts.size(), 1u);
  EXPECT_EQ(SplitForm(posts[0].at("body")).values["uid"], "42");
  ExpectClientFile("Log\\notes.txt", "the user's own notes\n");
  ExpectClientFile("Log\\old_exception.txt", "not a crash log\n");
  EXPECT_FALSE(ClientFileExists("Log\\42_exception.log"));
  ExpectStarted("UlmetMain.exe", QuotedArg(LaunchArg(2)));
}

// Only crash logs are deleted for their size: a large file of another kind
// in the folder is the user's, not the updater's.
TEST_F(Crash, LargeFileOfAnotherKindIsLeftAlone) {
  const std::string dump(1536 * 1024, 'd');
  Given().InstalledClient(1003)
         .ClientFile("Log\\memory.dmp", dump)
         .CrashLog("7_exception.log");
  Run(LaunchArg(2));
  ASSERT_EQ(Posts().size(), 1u);
  ASSERT_TRUE(ClientFileExists("Log\\memory.dmp"));
  EXPECT_EQ(ClientFileText("Log\\memory.dmp").size(), dump.size());
  EXPECT_FALSE(ClientFileExists("Log\\7_exception.log"));
}

// An empty log has nothing to send; it must not hold back the logs after it
// on this run and every later one.
TEST_F(Crash, EmptyLogDoesNotHoldBackTheOthers) {
  Given().InstalledClient(1003)
         .ClientFile("Log\\0_exception.log", "")
         .CrashLog("1_exception.log")
         .CrashLog("2_exception.log");
  Run(LaunchArg(2));
  auto posts = Posts();
  ASSERT_EQ(posts.size(), 2u);
  EXPECT_FALSE(ClientFileExists("Log\\1_exception.log"));
  EXPECT_FALSE(ClientFileExists("Log\\2_exception.log"));
  EXPECT_TRUE(ClientFileExists("Log\\0_exception.log"));
  ExpectStarted("UlmetMain.exe", QuotedArg(LaunchArg(2)));
}

// The report host is its own server; when nothing answers there the logs
// wait for the next run and the update goes on.
TEST_F(Crash, ReportServerDownKeepsEveryLog) {
  tb::CrashLog log;
  Given().InstalledClient(1003)
         .Release("set EXCEPTIONHOST 127.0.93.250")
         .CrashLog("1_exception.log", log)
         .CrashLog("2_exception.log", log);
  Run(LaunchArg(2));
  EXPECT_TRUE(Posts().empty()) << "a report reached the configuration server";
  ExpectClientFile("Log\\1_exception.log", tb::FormatCrashLog(log));
  ExpectClientFile("Log\\2_exception.log", tb::FormatCrashLog(log));
  ExpectNoBox();
  ExpectStarted("UlmetMain.exe", QuotedArg(LaunchArg(2)));
  ExpectEndedWithin(30);
}

// A report host that takes the connection but breaks it in the middle of
// the request: it never reads (its receive window is tiny) and resets the
// connection once the updater is stuck writing. The send fails, so the pass
// ends there: only one log is ever offered, and every log stays.
//
// The request must be cut while it is being written. Under Wine's WinINet a
// connection closed or reset after the whole request went out counts as a
// successful send (no answer is needed), and loopback buffers take some
// 3 MB, so the logs here are made of line feeds: about 6 MB of body each.
class BreakingListener {
 public:
  explicit BreakingListener(const std::string& address) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    int on = 1;
    setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    int small = 4096;
    setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(80);
    inet_pton(AF_INET, address.c_str(), &a.sin_addr);
    ok_ = fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && listen(fd_, 8) == 0;
    if (ok_) thread_ = std::thread([this] { Loop(); });
  }
  ~BreakingListener() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (fd_ >= 0) close(fd_);
  }
  bool ok() const { return ok_; }
  int connections() const { return connections_; }

 private:
  void Loop() {
    while (!stop_) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      int c = accept(fd_, nullptr, nullptr);
      if (c < 0) continue;
      ++connections_;
      // Give the writer a second to fill every buffer, then reset.
      for (int i = 0; i < 10 && !stop_; ++i) usleep(100000);
      linger reset{1, 0};
      setsockopt(c, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
      close(c);
    }
  }

  int fd_ = -1;
  bool ok_ = false;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  std::thread thread_;
};

TEST_F(Crash, BrokenSendEndsThePassAndLaterLogsAreNotTried) {
  BreakingListener listener("127.0.93.1");
  ASSERT_TRUE(listener.ok()) << "cannot listen on 127.0.93.1:80";
  tb::CrashLog log;
  log.extra = "";
  log.extra = std::string(1048576 - tb::FormatCrashLog(log).size(), '\n');
  ASSERT_EQ(tb::FormatCrashLog(log).size(), 1048576u);
  Given().InstalledClient(1003)
         .Release("set EXCEPTIONHOST 127.0.93.1")
         .CrashLog("1_exception.log", log)
         .CrashLog("2_exception.log", log)
         .CrashLog("3_exception.log", log);
  Run(LaunchArg(2));

  EXPECT_EQ(listener.connections(), 1) << "after a failed send another log was offered";
  for (const char* name : {"1_exception.log", "2_exception.log", "3_exception.log"})
    EXPECT_TRUE(ClientFileText(std::string("Log\\") + name) == tb::FormatCrashLog(log)) << name << " did not stay";
  EXPECT_TRUE(Posts().empty());
  ExpectStarted("UlmetMain.exe", QuotedArg(LaunchArg(2)));
}

// A 5xx answer says the receiver could not keep the report: the log stays,
// the pass ends, and the next start posts it again. Any other answer means
// it was taken or never will be, and the log goes.
struct AnswerCase {
  const char* name;
  const char* status;
  bool kept;
};
class CrashAnswer : public Crash, public ::testing::WithParamInterface<AnswerCase> {};

TEST_P(CrashAnswer, OnlyAFiveHundredKeepsTheLogForTheNextStart) {
  const AnswerCase& c = GetParam();
  Given().InstalledClient(1003)
         .Fault(kReportPath, "status", std::string("count=1 status=") + c.status)
         .CrashLog("10_exception.log")
         .CrashLog("11_exception.log");
  Run(LaunchArg(2));
  auto posts = Posts();
  ASSERT_EQ(posts.size(), c.kept ? 1u : 2u) << "a 5xx ends the pass";
  EXPECT_EQ(posts[0].at("status"), c.status);
  EXPECT_EQ(ClientFileExists("Log\\10_exception.log"), c.kept);
  EXPECT_EQ(ClientFileExists("Log\\11_exception.log"), c.kept);
  ExpectStarted("UlmetMain.exe", QuotedArg(LaunchArg(2)));
  if (!c.kept) return;
  Given().FaultsMended();
  RunAgain(LaunchArg(2));
  EXPECT_EQ(Posts().size(), 2u) << "both kept logs are posted at the next start";
  EXPECT_FALSE(ClientFileExists("Log\\10_exception.log"));
  EXPECT_FALSE(ClientFileExists("Log\\11_exception.log"));
}

INSTANTIATE_TEST_SUITE_P(Answers, CrashAnswer,
                         ::testing::Values(AnswerCase{"StoreFailed", "503", true}, AnswerCase{"ServerError", "500", true},
                                           AnswerCase{"Flood", "429", false}, AnswerCase{"BadForm", "400", false}),
                         [](const ::testing::TestParamInfo<AnswerCase>& i) { return std::string(i.param.name); });

// [EXCEPTION] 0 turns the upload off for both callers.
TEST_F(Crash, DisabledReportsLeaveTheLogsWhenNothingIsToUpdate) {
  tb::CrashLog log;
  Given().InstalledClient(1003).Release("set EXCEPTION 0").CrashLog("9_exception.log", log);
  Run(LaunchArg(2));
  EXPECT_TRUE(Posts().empty());
  ExpectClientFile("Log\\9_exception.log", tb::FormatCrashLog(log));
  ExpectStarted("UlmetMain.exe", QuotedArg(LaunchArg(2)));
}

TEST_F(Crash, DisabledReportsLeaveTheLogsWhenTheWorkerRuns) {
  tb::CrashLog log;
  Given().InstalledClient(1000)
         .Release("set EXCEPTION 0")
         .CrashLog("9_exception.log", log)
         .PublishedFile("a.dll", "a v1")
         .Release("version 1001 a.dll");
  Run(LaunchArg(2));
  EXPECT_TRUE(Posts().empty());
  ExpectRequested("/Ulmet3/files/a.dll");
  ExpectClientFile("Log\\9_exception.log", tb::FormatCrashLog(log));
  ExpectClientFile("a.dll", "a v1");
  ExpectStarted("UlmetMain.exe", QuotedArg(LaunchArg(2)));
}

}  // namespace
}  // namespace scn
