// Crash reports an operator can act on, with the real updater: the test
// bed's crashing client is built with our cross toolchain with debug
// information (DWARF with a map; the next build at other offsets; and by
// clang and lld with a PDB), crashed under Wine through the test bed's
// crash handler, and its logs posted by Ulmet.exe to ulmet-reports. Once
// the operator adds each version's symbols, the report pages name the
// crashing function and its source line (the page's text, and Chromium's
// screenshot), and the same fault from both builds is one signature.
#include <algorithm>
#include <filesystem>

#include "harness.h"
#include "harness/proc.h"
#include "harness/scenario.h"
#include "store/store.h"

namespace scn {
namespace {

const char kReportHost[] = "127.0.93.3";
const char kReportPath[] = "/crash/post.php";
const char kPassword[] = "operator-symbols-9";

class Symbols : public Scenario {
 protected:
  // The client built and crashed under Wine in C:\crashme-<name>\: the log
  // its crash handler wrote, empty when it wrote none.
  std::string Crash(const std::string& name, bool shift, bool pdb, const std::string& version, ulrt::ClientBuild* b) {
    if (!ulrt::BuildCrashingClient(OutputDir() + "/build-" + name, shift, pdb, b)) {
      ADD_FAILURE() << b->output;
      return "";
    }
    const std::string folder = UnixPath("C:\\crashme-" + name + "\\");
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    std::filesystem::create_directories(folder, ec);
    std::filesystem::copy_file(b->program, folder + "UlmetMain.exe", ec);
    ProcSpec p{{"wine", "C:\\crashme-" + name + "\\UlmetMain.exe", version, name}, {}, "",
               OutputDir() + "/crash-" + name + ".out", OutputDir() + "/crash-" + name + ".err"};
    const ProcResult r = RunProcess(p, 60);
    EXPECT_FALSE(r.timedOut) << "the crashing client did not end";
    return ReadText(folder + "Log/" + name + "_exception.log");
  }

  int Reports(const std::vector<std::string>& args, std::string* out) {
    ProcSpec p{{TestPaths().nativeBin + "/ulmet-reports"}, {}, "", OutputDir() + "/tool.out", OutputDir() + "/tool.out"};
    p.argv.insert(p.argv.end(), args.begin(), args.end());
    const int rc = RunProcess(p, 300).exitCode;
    *out = ReadText(OutputDir() + "/tool.out");
    return rc;
  }

  std::map<std::string, ulr::StoredReport> StoredByUid(const std::string& store) {
    std::string error;
    auto s = ulr::OpenStore(store, false, &error);
    std::vector<ulr::StoredReport> all;
    EXPECT_TRUE(s && s->ReportsAfter(0, 0, 100, &all, &error)) << error;
    std::map<std::string, ulr::StoredReport> byUid;
    for (auto& r : all) byUid[r.form.uid] = r;
    return byUid;
  }
};

TEST_F(Symbols, ReportsNameTheCrashingFunctionAndLineAndOneFaultIsOneSignatureAcrossBuilds) {
  // The client and its symbols are 32-bit, as the operators' tool reads them.
  if (!MachineRunsI386()) GTEST_SKIP() << "the crashing client is a 32-bit program, which this machine cannot run";
  ulrt::ClientBuild a, b, p;
  const std::string logA = Crash("a", false, false, "1004", &a);
  const std::string logB = Crash("b", true, false, "1005", &b);
  const std::string logP = Crash("p", false, true, "1006", &p);
  for (const std::string* log : {&logA, &logB, &logP}) ASSERT_NE(log->find("Fault address:"), std::string::npos);
  const std::string store = ulrt::FreshStore(ulrt::StoreKinds().back(), "symbols_scenario", OutputDir());
  ulrt::ReportsServer server(store, OutputDir(), kPassword, {"--path", kReportPath});
  ASSERT_TRUE(server.Start(std::string(kReportHost) + ":80")) << server.Output();

  Given().InstalledClient(1003)
         .Release("set EXCEPTIONHOST " + std::string(kReportHost))
         .Release("set EXCEPTIONPATH " + std::string(kReportPath))
         .ClientFile("Log\\a_exception.log", logA)
         .ClientFile("Log\\b_exception.log", logB)
         .ClientFile("Log\\p_exception.log", logP);
  Run(LaunchArg(2));
  ExpectStarted("UlmetMain.exe", QuotedArg(LaunchArg(2)));
  auto stored = StoredByUid(store);
  ASSERT_EQ(stored.size(), 3u) << server.Output();
  EXPECT_NE(stored["a"].signatureId, stored["b"].signatureId) << "the raw offsets differ between the builds";

  std::string out;
  ASSERT_EQ(Reports({"symbols", "add", "--store", store, "--version", "1004", a.program, a.map}, &out), 0) << out;
  ASSERT_EQ(Reports({"symbols", "add", "--store", store, "--version", "1005", b.program}, &out), 0) << out;
  ASSERT_EQ(Reports({"symbols", "add", "--store", store, "--version", "1006", p.program, p.pdb}, &out), 0) << out;
  stored = StoredByUid(store);
  EXPECT_EQ(stored["a"].signatureId, stored["b"].signatureId) << "the same fault in two builds";

  // The line of the source that faults.
  const std::string source = ReadText(TestPaths().sourceDir + "/testbed/win/crashme.cpp");
  const std::size_t faultAt = source.find("// the fault");
  ASSERT_NE(faultAt, std::string::npos);
  const std::string line = "testbed/win/crashme.cpp:" +
                           std::to_string(1 + std::count(source.begin(), source.begin() + faultAt, '\n'));
  const std::string base = "http://operator:" + std::string(kPassword) + "@" + kReportHost;
  const struct {
    const char* uid;
    const char* function;
  } pages[] = {{"a", "(anonymous namespace)::CrashHere(int)+0x"},
               {"b", "(anonymous namespace)::CrashHere(int)+0x"},
               {"p", "CrashHere"}};
  for (const auto& page : pages) {
    SCOPED_TRACE(page.uid);
    std::string dom;
    const std::string shot = OutputDir() + "/report-" + page.uid + ".png";
    ASSERT_TRUE(ulrt::Browse(OutputDir(), base + "/reports/" + std::to_string(stored[page.uid].id), shot, &dom));
    const std::size_t fault = dom.find("<td>오류</td>");
    ASSERT_NE(fault, std::string::npos) << dom;
    const std::string row = dom.substr(fault, dom.find("</tr>", fault) - fault);
    EXPECT_NE(row.find(page.function), std::string::npos) << row;
    EXPECT_NE(row.find(line), std::string::npos) << row;
    EXPECT_NE(dom.find("LoadLevel"), std::string::npos);
    const std::string text = ulrt::Ocr(OutputDir(), shot);
    EXPECT_NE(text.find("CrashHere"), std::string::npos) << text;
    EXPECT_NE(text.find(line.substr(line.find("crashme"))), std::string::npos) << text;
  }
  std::string dom;
  ASSERT_TRUE(ulrt::Browse(OutputDir(), base + "/", OutputDir() + "/signatures.png", &dom));
  EXPECT_NE(dom.find("UlmetMain.exe!(anonymous namespace)::CrashHere(int)"), std::string::npos) << dom;
  EXPECT_EQ(server.Stop(), 0) << server.Output();
}

}  // namespace
}  // namespace scn
