// The crash report service with the real updater: the client's logs are
// posted by Ulmet.exe to ulmet-reports, which this test starts on the
// report host, and are found in its store byte for byte. The store is
// SQLite, or PostgreSQL when the test command started one
// (tests/reports/with_postgres.sh).
#include <signal.h>

#include <cstdlib>

#include "crash/form_encode.h"
#include "harness.h"
#include "harness/proc.h"
#include "harness/scenario.h"
#include "receive/report_form.h"
#include "store/store.h"

namespace scn {
namespace {

const char kReportHost[] = "127.0.93.2";
const char kReportPath[] = "/crash/post.php";

class Reports : public Scenario {
 protected:
  // ulmet-reports serve on port 80 of the report host; false when it did
  // not come up.
  bool StartService() {
    const std::string folder = OutputDir() + "/reports";
    const std::vector<std::string> kinds = ulrt::StoreKinds();
    store_ = ulrt::FreshStore(kinds.back(), "scenario", OutputDir());
    server_ = std::make_unique<ulrt::ReportsServer>(store_, OutputDir(), "", std::vector<std::string>{"--path", kReportPath});
    return server_->Start(std::string(kReportHost) + ":80");
  }

  std::map<std::string, ulr::StoredReport> StoredByUid() {
    std::map<std::string, ulr::StoredReport> byUid;
    std::string error;
    auto store = ulr::OpenStore(store_, false, &error);
    EXPECT_TRUE(store) << error;
    std::vector<ulr::StoredReport> all;
    if (store) {
      EXPECT_TRUE(store->ReportsAfter(0, 0, 100, &all, &error)) << error;
    }
    for (const auto& r : all) {
      EXPECT_EQ(byUid.count(r.form.uid), 0u) << r.form.uid << " stored twice";
      byUid[r.form.uid] = r;
    }
    return byUid;
  }

  std::string store_;
  std::unique_ptr<ulrt::ReportsServer> server_;
};

TEST_F(Reports, TheUpdatersPostsAreStoredByteForByte) {
  ASSERT_TRUE(StartService()) << server_->Output();
  // Korean text (code page 949) in the log and in the faulting module's name.
  tb::CrashLog korean;
  korean.version = "4003";
  korean.faultModule = "C:\\\xBF\xEF\xB8\xDE\\\xC7\xC3\xB7\xAF\xB1\xD7\xC0\xCE.dll";  // C:\울메\플러그인.dll
  korean.extra = "\xBF\xEF\xB8\xDE \xC5\xAC\xB6\xF3\xC0\xCC\xBE\xF0\xC6\xAE \xBF\xC0\xB7\xF9 & 100% <b>\n";
  tb::CrashLog upper;
  upper.version = "4.0.1.7b";
  tb::CrashLog big;
  big.extra = std::string(1048576, 'x') + "\n";
  Given().InstalledClient(1003)
         .Release("set EXCEPTIONHOST " + std::string(kReportHost))
         .Release("set EXCEPTIONPATH " + std::string(kReportPath))
         .CrashLog("7001_exception.log", korean)
         .CrashLog("ABC_DEF_EXCEPTION.LOG", upper)
         .CrashLog("big_exception.log", big);
  Run(LaunchArg(2));
  EXPECT_EQ(server_->Stop(), 0) << server_->Output();

  auto stored = StoredByUid();
  EXPECT_EQ(stored.size(), 2u);
  EXPECT_EQ(stored.count("big"), 0u) << "the log above 1 MB arrived";
  const struct {
    std::string uid;
    const tb::CrashLog* log;
    std::string ver, fmod;
  } want[] = {{"7001", &korean, "4003\n", "\xC7\xC3\xB7\xAF\xB1\xD7\xC0\xCE.dll"},
              {"ABC_DEF", &upper, "4.0.1.7", "UlmetMain.exe"}};
  for (const auto& w : want) {
    SCOPED_TRACE(w.uid);
    ASSERT_EQ(stored.count(w.uid), 1u);
    const ulr::ReportForm& f = stored[w.uid].form;
    const std::string file = tb::FormatCrashLog(*w.log);
    EXPECT_TRUE(ulr::RestoreLog(f.conts) == file) << "the stored log differs from the client's file";
    EXPECT_TRUE(f.conts == ToCrLf(file.data(), file.size())) << "the stored text differs from what the updater sent";
    EXPECT_EQ(f.fver, "ulmet3");
    EXPECT_EQ(f.ver, w.ver);
    EXPECT_EQ(f.fadd, w.log->faultAddress);
    EXPECT_EQ(f.fmod, w.fmod);
    EXPECT_EQ(f.ladd, "00023456");
    EXPECT_EQ(f.lmod, "KERNEL32.dll");
    EXPECT_EQ(stored[w.uid].remote, "127.0.0.1");
  }
  for (const char* name : {"7001_exception.log", "ABC_DEF_EXCEPTION.LOG", "big_exception.log"})
    ExpectNoClientFile(std::string("Log\\") + name);
  ExpectNoBox();
  ExpectStarted("UlmetMain.exe", QuotedArg(LaunchArg(2)));
}

}  // namespace
}  // namespace scn
