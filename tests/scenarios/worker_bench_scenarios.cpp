// Benchmarks of whole runs (not part of the normal suite: every test here is
// disabled and runs only when asked for; scripts/bench.sh runs them all and
// puts their figures into its table):
//
//   ul_scenarios --gtest_also_run_disabled_tests --gtest_filter='WorkerBench*'
//
// Each one checks that the run did its work, then writes its figures, one
// "name value" line each, to figures.txt of its output folder and to stdout.
// The figures come from records that cannot miss a short run: the moment
// the harness started Ulmet.exe, the stand-ins' start records, the server's
// request log, and the peak resident memory that the kernel kept for
// Ulmet.exe's process. What the mandated 1 ms pauses cost is given as a
// count of pauses; bench.sh measures one pause under Wine in the same run.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "harness/proc.h"
#include "harness/scenario.h"

namespace fs = std::filesystem;

namespace scn {
namespace {

constexpr long long kReadSize = 4096;    // a pause after every network read
constexpr long long kChunkSize = 32768;  // a pause after every digest chunk
const char kFilesPath[] = "/Ulmet3/files/";

class WorkerBench : public Scenario {
 protected:
  // The pauses that the downloads of the run made at the least: one after
  // every full read and one after the read that finds the end (an empty
  // answer ends before the first read). Requests below pathPrefix only.
  long long DownloadPauses(const std::string& pathPrefix = "/") const {
    long long pauses = 0;
    for (const auto& r : Requests()) {
      if (r.at("method") != "GET" || r.at("path").rfind(pathPrefix, 0) != 0) continue;
      std::error_code ec;
      long long size = static_cast<long long>(fs::file_size(OutputDir() + "/tree" + r.at("path"), ec));
      if (!ec && size > 0) pauses += (size + kReadSize - 1) / kReadSize + 1;
    }
    return pauses;
  }

  // The digest pass's pauses: one per 32 KB chunk of every listed file.
  long long DigestPauses() const {
    std::istringstream list(ReadText(OutputDir() + "/tree/Ulmet3/ULHashFile.dat"));
    std::string line;
    long long pauses = 0;
    while (std::getline(list, line)) {
      if (line.empty() || line[0] == ';') continue;
      std::vector<std::string> field;  // name:number:digest:folder
      std::istringstream parts(line);
      for (std::string f; std::getline(parts, f, ':');) field.push_back(f);
      if (field.size() != 4) continue;
      std::error_code ec;
      auto size = fs::file_size(UnixPath(std::string(kClientFolder) + field[3] + field[0]), ec);
      if (!ec) pauses += (static_cast<long long>(size) + kChunkSize - 1) / kChunkSize;
    }
    return pauses;
  }

  // From the start of Ulmet.exe's process to the client's start record.
  long long StartToClientMs() const {
    for (const auto& s : Starts())
      if (s.at("program") == "UlmetMain.exe") return std::stoll(s.at("time_ms")) - Result().startEpochMs;
    return -1;
  }
};

std::string Numbered(const char* format, int i) {
  char name[64];
  std::snprintf(name, sizeof name, format, i);
  return name;
}

// Small files of a few hundred bytes to a few kB, each with its own content.
std::string SmallContent(int i) {
  std::string s = "file " + std::to_string(i) + "\n";
  while (s.size() < static_cast<size_t>(200 + (i * 37) % 3000)) s += "line of file " + std::to_string(i) + "\n";
  return s;
}

// Files f0001.dat.. in versions of 50 files each; the last version's number.
int PublishSmallFiles(World& world, int files) {
  std::string line;
  int version = 1000;
  for (int i = 1; i <= files; ++i) {
    std::string name = Numbered("f%04d.dat", i);
    world.PublishedFile(name, SmallContent(i));
    if (line.empty()) line = "version " + std::to_string(++version);
    line += " " + name;
    if (i % 50 == 0 || i == files) {
      world.Release(line);
      line.clear();
    }
  }
  return version;
}

TEST_F(WorkerBench, DISABLED_ThousandFilesAndAnArchiveOfTwoThousandEntries) {
  auto& world = Given();
  world.InstalledClient(1000).TimeLimit(900);
  int version = PublishSmallFiles(world, 1000);
  for (int i = 1; i <= 2000; ++i) world.PublishedFile(Numbered("Data/e%04d.txt", i), SmallContent(5000 + i));
  world.Release("archive Data.zip Data").Release("version " + std::to_string(++version) + " Data.zip");
  Run(LaunchArg(2));

  ExpectNoBox();
  ExpectNoTrace("일부 파일 이상으로 다운로드를 다시시작합니다.");
  for (int i = 1; i <= 1000; ++i) ASSERT_EQ(ClientFileText(Numbered("f%04d.dat", i)), SmallContent(i)) << i;
  for (int i = 1; i <= 2000; ++i) ASSERT_EQ(ClientFileText(Numbered("Data\\e%04d.txt", i)), SmallContent(5000 + i)) << i;
  ExpectNoClientFile("Data.zip");
  ExpectRegistry("HKLM\\Software\\ULMET", "AppVersion", std::to_string(version));
  ExpectStarted("UlmetMain.exe", QuotedArg(LaunchArg(2)));
  ASSERT_FALSE(Result().timedOut);
  Figure("run_s", Result().seconds);
  Figure("start_to_client_ms", StartToClientMs());
}

// Each small file is its own download with its own Internet handles. The
// download phase runs from the first file's request to the last one's, plus
// the average file's share for the last file.
TEST_F(WorkerBench, DISABLED_ThousandSmallFiles) {
  const int files = 1000;
  auto& world = Given();
  world.InstalledClient(1000).TimeLimit(600);
  int version = PublishSmallFiles(world, files);
  Run(LaunchArg(2));

  ExpectNoBox();
  for (int i = 1; i <= files; ++i) ASSERT_EQ(ClientFileText(Numbered("f%04d.dat", i)), SmallContent(i)) << i;
  ExpectRegistry("HKLM\\Software\\ULMET", "AppVersion", std::to_string(version));
  ExpectStarted("UlmetMain.exe", QuotedArg(LaunchArg(2)));
  ASSERT_FALSE(Result().timedOut);
  std::vector<long long> times;
  for (const auto& r : Requests())
    if (r.at("path").rfind(kFilesPath, 0) == 0) times.push_back(std::stoll(r.at("time_ms")));
  ASSERT_EQ(times.size(), static_cast<size_t>(files)) << "every file is fetched once";
  Figure("files", files);
  Figure("download_s", (times.back() - times.front()) / 1000.0 * files / (files - 1));
  Figure("download_pauses", DownloadPauses(kFilesPath));
  Figure("run_s", Result().seconds);
  Figure("run_pauses", DownloadPauses() + DigestPauses());
}

// The download and the digest both go through small fixed buffers: the
// updater's memory must not grow with the size of the file.
class WorkerBenchLargeFile : public WorkerBench {
 protected:
  void RunWith(size_t megabytes) {
    const std::string body = Noise(megabytes << 20);
    Given().InstalledClient(1000)
           .TimeLimit(1800)
           .ClientFile("big.bin", "the copy being replaced")
           .PublishedFile("big.bin", body)
           .Release("version 1001 big.bin");
    Run(LaunchArg(2));
    ExpectNoBox();
    ExpectNoTrace("일부 파일 이상으로 다운로드를 다시시작합니다.");
    std::string got = ClientFileText("big.bin");
    EXPECT_EQ(got.size(), body.size());
    EXPECT_TRUE(got == body) << "big.bin differs from the published file";
    ExpectStarted("UlmetMain.exe", QuotedArg(LaunchArg(2)));
    ASSERT_FALSE(Result().timedOut);
    ASSERT_GT(Result().peakKb, 0);
    EXPECT_LT(Result().peakKb, 128L * 1024) << "peak resident memory grows with the file";
    Figure("megabytes", megabytes);
    Figure("run_s", Result().seconds);
    Figure("peak_kb", Result().peakKb);
  }
};

TEST_F(WorkerBenchLargeFile, DISABLED_OneFileOf16MB) { RunWith(16); }
TEST_F(WorkerBenchLargeFile, DISABLED_OneFileOf256MB) { RunWith(256); }

// Nothing to update: the configuration files, the digest of every listed
// file and the client's start. The launch waits for the dialog's first
// 100 ms status tick.
class WorkerBenchLaunch : public WorkerBench {
 protected:
  void RunWith(int files) {
    auto& world = Given();
    world.InstalledClient(1001);
    for (int i = 1; i <= files; ++i) {
      std::string name = Numbered("Files/f%04d.dat", i);
      world.PublishedFile(name, SmallContent(i)).ClientFile(Numbered("Files\\f%04d.dat", i), SmallContent(i));
    }
    world.Release("version 1001 " + Numbered("Files\\f%04d.dat", 1));
    Run(LaunchArg(2));
    ExpectNoBox();
    ExpectNoTrace("일부 파일 이상으로 다운로드를 다시시작합니다.");
    ExpectNotRequested("/Ulmet3/files/Files/f0001.dat");
    ExpectStarted("UlmetMain.exe", "C:\\Ulmet\\UlmetMain.exe " + QuotedArg(LaunchArg(2)));
    ASSERT_GT(StartToClientMs(), 0) << "no start record of the client";
    Figure("digests", files + 1);
    Figure("start_to_client_ms", StartToClientMs());
    Figure("pauses", DownloadPauses() + DigestPauses());
  }
};

TEST_F(WorkerBenchLaunch, DISABLED_NothingToUpdateWithAThousandDigests) { RunWith(1000); }
TEST_F(WorkerBenchLaunch, DISABLED_NothingToUpdateWithOneDigest) { RunWith(1); }

}  // namespace
}  // namespace scn

namespace scn {
namespace {

// Starts with nothing to update on clients of gigabytes: packs of 256 MB to
// 2 GB and a few thousand small files, every one in the hash list. The
// client folder and its tree ("ulmet-publish init", which turns the
// verified-state record on) are made once below the scenarios' folder and
// kept for the next bench run (scripts/bench.sh removes them); the served
// tree keeps only the lists, since nothing is fetched. Four starts on the
// same folder: the record off; on, first start (it reads everything and
// writes the record); on, second start; and a hash list of one small file.
// A probe sends WM_NULL to the main dialog every 100 ms throughout.
class WorkerBenchStart : public WorkerBench {
 protected:
  struct Layout {
    const char* name;
    std::vector<int> packsMb;
    int smallFiles;
  };

  std::string Root(const Layout& l) const { return TestPaths().outRoot + "/bench-clients/" + l.name; }

  // The client folder, written once (a marker says it is whole).
  void MakeClient(const Layout& l) {
    const std::string client = Root(l) + "/client", marker = Root(l) + "/client.done";
    if (fs::exists(marker)) return;
    std::error_code ec;
    fs::remove_all(Root(l), ec);
    fs::create_directories(client + "/Data", ec);
    long long need = 0;
    for (int mb : l.packsMb) need += static_cast<long long>(mb) << 20;
    // The client and, for a moment, its published copy: leave 20 GB to others.
    ASSERT_GT(static_cast<long long>(fs::space(TestPaths().outRoot).available), 2 * need + (20LL << 30))
        << "not enough disk for a client of " << (need >> 20) << " MB";
    for (size_t p = 0; p < l.packsMb.size(); ++p) {
      std::ofstream out(client + "/Data/pack" + std::to_string(p + 1) + ".pak", std::ios::binary);
      for (int block = 0; block < l.packsMb[p] / 64; ++block)
        out << Noise(64 << 20, static_cast<uint32_t>(1000 * (p + 1) + block + 1));
      ASSERT_TRUE(out.good());
    }
    for (int i = 1; i <= l.smallFiles; ++i) {
      std::string folder = client + "/Data/Small" + std::to_string(i % 20);
      fs::create_directories(folder, ec);
      std::ofstream(folder + "/" + Numbered("s%05d.dat", i), std::ios::binary)
          << Noise(200 + (i * 7919) % 32768, static_cast<uint32_t>(i));
    }
    fs::copy_file(StandInProgram(), client + "/UlmetMain.exe", fs::copy_options::overwrite_existing, ec);
    WriteText(marker, "whole\n");
  }

  // Its tree, published once; the packs' copies go (nothing is fetched).
  void MakeTree(const Layout& l) {
    const std::string tree = Root(l) + "/tree";
    if (fs::exists(tree + "/Ulmet3/ULHashFile.dat")) return;
    ProcResult r = RunProcess({{TestPaths().nativeBin + "/ulmet-publish", "init", "--client", Root(l) + "/client",
                                "--out", tree, "--host", TestPaths().configHost, "--force"},
                               {}, "", Root(l) + "/init.out", Root(l) + "/init.err"}, 3600);
    ASSERT_EQ(r.exitCode, 0) << ReadText(Root(l) + "/init.err");
    std::error_code ec;
    fs::remove_all(tree + "/Ulmet3/files/Data", ec);
  }

  struct Start {
    long long toClientMs = -1;
    double slowestMs = 0;
    size_t probes = 0;
    std::string summary;  // the comparison's trace line
  };

  Start Measured() {
    Start s;
    s.toClientMs = StartToClientMs();
    for (double a : WindowAnswersMs()) s.slowestMs = std::max(s.slowestMs, a);
    s.probes = WindowAnswersMs().size();
    for (const auto& t : Trace())
      if (t.rfind("CheckInstalledFiles:", 0) == 0) s.summary = t;
    EXPECT_GT(s.toClientMs, 0) << "no start of the client; see " << OutputDir();
    EXPECT_FALSE(Result().timedOut);
    for (const auto& r : Requests()) EXPECT_NE(r.at("path").rfind(kFilesPath, 0), 0u) << r.at("path");
    return s;
  }

  void Report(const std::string& name, const Start& s) {
    Figure(name + "_ms", static_cast<double>(s.toClientMs));
    Figure(name + "_slowest_answer_ms", s.slowestMs);
    Figure(name + "_probes", static_cast<double>(s.probes));
    std::printf("%s: %s\n", name.c_str(), s.summary.c_str());
    std::ofstream(OutputDir() + "/summaries.txt", std::ios::app) << name << ": " << s.summary << "\n";
  }

  void RunWith(const Layout& l) {
    MakeClient(l);
    if (HasFatalFailure()) return;
    MakeTree(l);
    if (HasFatalFailure()) return;
    const std::string tree = Root(l) + "/tree";
    const std::string configPath = tree + "/UlLaunch/ULProgram.cfg", listPath = tree + "/Ulmet3/ULHashFile.dat";
    const std::string withRecord = ReadText(configPath), fullList = ReadText(listPath);
    const std::string section = "[VERIFIEDSTATE]\n";
    const std::size_t at = withRecord.find(section);
    ASSERT_NE(at, std::string::npos) << "init turns the record on";
    const std::string withoutRecord = withRecord.substr(0, at) + withRecord.substr(withRecord.find('\n', at + section.size()) + 1);
    std::string oneLine;
    int listed = 0;
    for (std::istringstream in(fullList); std::getline(in, oneLine);) listed += !oneLine.empty() && oneLine[0] != ';';
    Figure("files", listed);
    // The "empty" list: the one line of the client's module (a list without
    // any line ends every run at the start).
    for (std::istringstream in(fullList); std::getline(in, oneLine);)
      if (oneLine.rfind("UlmetMain.exe:", 0) == 0) break;
    ASSERT_EQ(oneLine.rfind("UlmetMain.exe:", 0), 0u);

    Given().InstalledFolderLinked(Root(l) + "/client", kFirstVersion).ServedTree(tree).ProbeWindow().TimeLimit(3000);
    WriteText(configPath, withoutRecord);
    Run(LaunchArg(2));
    Report("record_off", Measured());
    WriteText(configPath, withRecord);
    RunAgain(LaunchArg(2));
    Report("record_on_first", Measured());
    RunAgain(LaunchArg(2));
    Report("record_on_second", Measured());
    WriteText(configPath, withoutRecord);
    WriteText(listPath, oneLine + "\n");
    RunAgain(LaunchArg(2));
    Report("one_listed_file", Measured());
    WriteText(configPath, withRecord);
    WriteText(listPath, fullList);
  }

  static constexpr int kFirstVersion = 1000;
};

TEST_F(WorkerBenchStart, DISABLED_NothingToUpdateOn1GB) {
  RunWith({"1g", {256, 256, 512}, 2000});
}

TEST_F(WorkerBenchStart, DISABLED_NothingToUpdateOn10GB) {
  RunWith({"10g", {2048, 2048, 2048, 1024, 1024, 1024, 512, 256, 256}, 4000});
}

}  // namespace
}  // namespace scn
