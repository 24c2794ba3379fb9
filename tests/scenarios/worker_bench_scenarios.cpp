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
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "formats/trust/md5.h"
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

// A new pack of 256 MB in a release published with ulmet-publish (init from
// the installed client, then release from the new one): the run and its
// download phase, through the test server paced at 100 Mbit/s (one line for
// every connection) or unpaced on loopback; with init's defaults ("[PACE]"
// and the record) or with the section left out (init --no-pace), as the
// updater read before it. The clients and both trees are made once below
// bench-clients/new-pack. The download phase runs from the first request
// for the pack (or its chunk index) to the end of the last answer for it.
class WorkerBenchNewPack : public WorkerBench {
 protected:
  std::string Root() const { return TestPaths().outRoot + "/bench-clients/new-pack"; }

  void MakeClients() {
    const std::string marker = Root() + "/clients.done";
    if (fs::exists(marker)) return;
    std::error_code ec;
    fs::remove_all(Root(), ec);
    fs::create_directories(Root() + "/client-old", ec);
    fs::create_directories(Root() + "/client-new/Data", ec);
    ASSERT_GT(static_cast<long long>(fs::space(TestPaths().outRoot).available), (1LL << 30) + (20LL << 30))
        << "not enough disk for the new pack";
    std::ofstream out(Root() + "/client-new/Data/pack.pak", std::ios::binary);
    for (int block = 0; block < 4; ++block) out << Noise(64 << 20, static_cast<uint32_t>(9000 + block));
    ASSERT_TRUE(out.good());
    out.close();
    for (const char* c : {"/client-old", "/client-new"})
      fs::copy_file(StandInProgram(), Root() + c + "/UlmetMain.exe", fs::copy_options::overwrite_existing, ec);
    WriteText(marker, "whole\n");
  }

  // "ulmet-publish init" from the old client, then "release" of the new one.
  std::string MakeTree(bool pace) {
    const std::string tree = Root() + (pace ? "/tree-pace" : "/tree-default"), marker = tree + ".done";
    if (fs::exists(marker)) return tree;
    std::vector<std::string> init = {TestPaths().nativeBin + "/ulmet-publish", "init", "--client", Root() + "/client-old",
                                     "--out", tree, "--host", TestPaths().configHost, "--force"};
    if (!pace) init.push_back("--no-pace");
    ProcResult r = RunProcess({init, {}, "", tree + ".init.out", tree + ".init.err"}, 600);
    EXPECT_EQ(r.exitCode, 0) << ReadText(tree + ".init.err");
    r = RunProcess({{TestPaths().nativeBin + "/ulmet-publish", "release", "--tree", tree, "--client", Root() + "/client-new"},
                    {}, "", tree + ".release.out", tree + ".release.err"}, 600);
    EXPECT_EQ(r.exitCode, 0) << ReadText(tree + ".release.err");
    std::error_code ec;
    fs::remove_all(tree + ".previous", ec);
    if (!HasFailure()) WriteText(marker, "whole\n");
    return tree;
  }

  // From the first request for the pack to the end of the last answer.
  double DownloadSeconds() const {
    std::set<std::string> packSeqs;
    long long first = -1, last = -1;
    for (const auto& r : tb::ReadJsonLines(OutputDir() + "/requests.jsonl", true)) {
      if (r.count("path") && r.at("path").find("Data/pack.pak") != std::string::npos) {
        packSeqs.insert(r.at("seq"));
        if (first < 0) first = std::stoll(r.at("time_ms"));
      }
      if (r.count("answered") && packSeqs.count(r.at("answered"))) last = std::stoll(r.at("time_ms"));
    }
    return first < 0 || last < first ? -1 : (last - first) / 1000.0;
  }

  void RunWith(double mbit, bool pace) {
    MakeClients();
    if (HasFatalFailure()) return;
    const std::string tree = MakeTree(pace);
    if (HasFailure()) return;
    if (BenchMakeOnly()) GTEST_SKIP() << "the clients and the tree are made";
    Given().InstalledFolderLinked(Root() + "/client-old", 1000).ServedTree(tree).TimeLimit(1800);
    if (mbit > 0) Given().LineRate(mbit);
    Run(LaunchArg(2));
    ExpectNoBox();
    ExpectStarted("UlmetMain.exe", QuotedArg(LaunchArg(2)));
    ASSERT_FALSE(Result().timedOut);
    const std::string got = ClientFileText("Data\\pack.pak");
    EXPECT_TRUE(got == ReadText(Root() + "/client-new/Data/pack.pak")) << "the pack is not the new one";
    int requests = 0;
    for (const auto& r : Requests()) requests += r.at("path") == "/Ulmet3/files/Data/pack.pak";
    Figure("megabytes", 256);
    Figure("download_s", DownloadSeconds());
    Figure("pack_sent_bytes", static_cast<double>(BytesSent("/Ulmet3/files/Data/pack.pak")));
    Figure("requests", requests);
    Figure("run_s", Result().seconds);
    Figure("start_to_client_ms", static_cast<double>(StartToClientMs()));
    Figure("peak_kb", Result().peakKb);
  }
};

TEST_F(WorkerBenchNewPack, DISABLED_PacedLine) { RunWith(100, true); }
TEST_F(WorkerBenchNewPack, DISABLED_PacedLineDefaultTree) { RunWith(100, false); }
TEST_F(WorkerBenchNewPack, DISABLED_Loopback) { RunWith(0, true); }
TEST_F(WorkerBenchNewPack, DISABLED_LoopbackDefaultTree) { RunWith(0, false); }

}  // namespace
}  // namespace scn

namespace scn {
namespace {

// Starts with nothing to update on clients of gigabytes: packs of 256 MB to
// 2 GB and a few thousand small files, every one in the hash list. The
// client folder and its tree ("ulmet-publish init" with its defaults: the
// verified-state record on and "[PACE]") are made once below the scenarios'
// folder and kept for the next bench run (scripts/bench.sh removes them);
// the served tree keeps only the lists, since nothing is fetched. A probe
// sends WM_NULL to the main dialog every 100 ms throughout.
struct Layout {
  const char* name;
  std::vector<int> packsMb;
  int smallFiles;
};

class WorkerBenchStart : public WorkerBench {
 protected:

  std::string Root(const Layout& l) const { return TestPaths().outRoot + "/bench-clients/" + l.name; }
  std::string RecordPath() const { return UnixPath(std::string(kClientFolder) + "ULVerified.dat"); }

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
    fs::remove_all(tree + ".previous", ec);
  }

  // The tree's program configuration as init wrote it and without some of
  // its sections, and its hash list whole and cut to one line.
  struct Tree {
    std::string configPath, listPath;
    std::string paced;    // init's: the record on and "[PACE]"
    std::string unpaced;  // the record on, "[PACE]" left out: the default tree
    std::string bare;     // neither
    std::string fullList;
    std::string oneLine;  // the client's module alone (an empty list ends every run at the start)
    int listed = 0;
  };

  static std::string WithoutSection(const std::string& text, const std::string& name) {
    const std::string header = "[" + name + "]\n";
    const std::size_t at = text.find(header);
    if (at == std::string::npos) return text;
    return text.substr(0, at) + text.substr(text.find('\n', at + header.size()) + 1);
  }

  void LoadTree(const Layout& l, Tree* t) {
    const std::string tree = Root(l) + "/tree";
    t->configPath = tree + "/UlLaunch/ULProgram.cfg";
    t->listPath = tree + "/Ulmet3/ULHashFile.dat";
    t->paced = ReadText(t->configPath);
    t->fullList = ReadText(t->listPath);
    ASSERT_NE(t->paced.find("[VERIFIEDSTATE]\n"), std::string::npos) << "init turns the record on";
    ASSERT_NE(t->paced.find("[PACE]\n"), std::string::npos) << "init writes [PACE]";
    t->unpaced = WithoutSection(t->paced, "PACE");
    t->bare = WithoutSection(t->unpaced, "VERIFIEDSTATE");
    std::string line;
    for (std::istringstream in(t->fullList); std::getline(in, line);) {
      t->listed += !line.empty() && line[0] != ';';
      if (line.rfind("UlmetMain.exe:", 0) == 0) t->oneLine = line + "\n";
    }
    ASSERT_FALSE(t->oneLine.empty());
  }

  // Client and tree made, loaded, and the world that starts on them.
  void Prepared(const Layout& l, Tree* t) {
    MakeClient(l);
    if (HasFatalFailure()) return;
    MakeTree(l);
    if (HasFatalFailure()) return;
    LoadTree(l, t);
    if (HasFatalFailure()) return;
    if (BenchMakeOnly()) GTEST_SKIP() << "the client and its tree are made";
    Figure("files", t->listed);
    Given().InstalledFolderLinked(Root(l) + "/client", kFirstVersion).ServedTree(Root(l) + "/tree")
           .ProbeWindow().TimeLimit(3000);
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

  // Four starts of the default tree ("[PACE]" left out, as the updater read
  // before the section): the record off; on, first start (it reads
  // everything and writes the record); on, second start; and a hash list of
  // one small file. Then init's three (PacedStarts). pacedAlone: a start that
  // warms the disk cache, then init's three alone (scripts/bench.sh pace),
  // since one start of the default tree takes minutes at 10 GB.
  void RunWith(const Layout& l, bool pacedAlone = false) {
    Tree t;
    Prepared(l, &t);
    if (HasFatalFailure() || IsSkipped()) return;
    if (pacedAlone) {
      WriteText(t.configPath, t.paced);
      Run(LaunchArg(2));
      Report("warm_up", Measured());
      PacedStarts(t);
      return;
    }
    WriteText(t.configPath, t.bare);
    Run(LaunchArg(2));
    Report("record_off", Measured());
    WriteText(t.configPath, t.unpaced);
    RunAgain(LaunchArg(2));
    Report("record_on_first", Measured());
    RunAgain(LaunchArg(2));
    Report("record_on_second", Measured());
    WriteText(t.configPath, t.bare);
    WriteText(t.listPath, t.oneLine);
    RunAgain(LaunchArg(2));
    Report("one_listed_file", Measured());
    WriteText(t.listPath, t.fullList);
    WriteText(t.configPath, t.paced);
    PacedStarts(t);
  }

  // Init's tree: first start (the record removed), second start (rolling:
  // it reads again a share of the files read longest ago), the list of one
  // file.
  void PacedStarts(const Tree& t) {
    std::error_code ec;
    fs::remove(RecordPath(), ec);
    RunAgain(LaunchArg(2));
    Report("paced_first", Measured());
    RunAgain(LaunchArg(2));
    Report("paced_second", Measured());
    WriteText(t.listPath, t.oneLine);
    RunAgain(LaunchArg(2));
    Report("paced_one_listed_file", Measured());
    // The tree as init wrote it, for the next scenario over it.
    WriteText(t.listPath, t.fullList);
    WriteText(t.configPath, t.paced);
  }

  static constexpr int kFirstVersion = 1000;
};

const Layout k1GB = {"1g", {256, 256, 512}, 2000};
const Layout k10GB = {"10g", {2048, 2048, 2048, 1024, 1024, 1024, 512, 256, 256}, 4000};

TEST_F(WorkerBenchStart, DISABLED_NothingToUpdateOn1GB) { RunWith(k1GB); }
TEST_F(WorkerBenchStart, DISABLED_NothingToUpdateOn10GB) { RunWith(k10GB); }
TEST_F(WorkerBenchStart, DISABLED_PacedStartsOn1GB) { RunWith(k1GB, true); }
TEST_F(WorkerBenchStart, DISABLED_PacedStartsOn10GB) { RunWith(k10GB, true); }

// Daily starts of init's tree (rolling re-verification) on one client
// folder. The clock cannot move here; the record's times moving back a day
// between starts is the same to the updater: its full pass, its writing and
// every file's look. The client's files are dated two months back first (a
// client installed a while ago), so that a look moved back a month is still
// after the file's last write. After the first start (the record removed:
// everything read) each start's time, the bytes it read (files whose look
// is now), and the age of the file read longest ago when it began: below
// the record's days, no file ever fell due.
class WorkerBenchDaily : public WorkerBenchStart {
 protected:
  static constexpr uint64_t kDay = 864000000000ULL;  // a day in file time

  // The record with its times one day earlier and its check line made anew.
  bool RecordDayEarlier() {
    const std::string text = ReadText(RecordPath());
    const std::size_t check = text.rfind("check ");
    if (check == std::string::npos) return false;
    std::istringstream in(text.substr(0, check));
    std::string out;
    for (std::string line; std::getline(in, line);) {
      std::vector<std::string> w;
      std::istringstream words(line);
      for (std::string word; w.size() < 6 && words >> word;) w.push_back(word);
      // file SIZE WRITTEN VOLUME INDEX LOOKED DIGEST PATH
      const std::string kind = w.empty() ? "" : w[0];
      const std::size_t field = (kind == "full" || kind == "written") ? 1 : kind == "file" ? 5 : 0;
      if (field > 0) {
        std::size_t at = 0;
        for (std::size_t i = 0; i < field; ++i) at = line.find(' ', at) + 1;
        const std::size_t end = line.find(' ', at);
        line = line.substr(0, at) + std::to_string(std::stoull(line.substr(at, end - at)) - kDay) +
               (end == std::string::npos ? "" : line.substr(end));
      }
      out += line + "\n";
    }
    char digest[33];
    DigestBuffer(out.data(), out.size(), digest);
    return WriteText(RecordPath(), out + "check " + digest + "\n");
  }

  // Each file's size and look, from the record.
  struct Look {
    uint64_t size, lookedAt;
  };
  std::vector<Look> Looks() const {
    std::vector<Look> looks;
    std::istringstream in(ReadText(RecordPath()));
    for (std::string line; std::getline(in, line);) {
      std::istringstream words(line);
      std::string kind;
      Look l{};
      uint64_t written, volume, index;
      if (words >> kind && kind == "file" && words >> l.size >> written >> volume >> index >> l.lookedAt)
        looks.push_back(l);
    }
    return looks;
  }

  void DateBack(const Layout& l, int days) {
    const auto then = fs::file_time_type::clock::now() - std::chrono::hours(24 * days);
    std::error_code ec;
    for (const auto& e : fs::recursive_directory_iterator(Root(l) + "/client", ec))
      if (e.is_regular_file()) fs::last_write_time(e.path(), then, ec);
    ASSERT_FALSE(ec) << ec.message();
  }

  // recordDays: the record's days instead of init's (0: init's).
  void RunDays(const Layout& l, int days, int recordDays = 0) {
    Tree t;
    Prepared(l, &t);
    if (HasFatalFailure() || IsSkipped()) return;
    DateBack(l, 60);
    if (HasFatalFailure()) return;
    std::string config = t.paced;
    const std::string header = "[VERIFIEDSTATE]\n";
    const std::size_t at = config.find(header) + header.size();
    if (recordDays > 0) config.replace(at, config.find('\n', at) - at, "on " + std::to_string(recordDays));
    Figure("record_days", std::atof(config.c_str() + at + 3));
    WriteText(t.configPath, config);
    Run(LaunchArg(2));
    Report("day_01", Measured());
    ASSERT_EQ(Looks().size(), static_cast<std::size_t>(t.listed)) << "the first start records every file";
    std::vector<long long> later;
    double oldestDays = 0, slowestAnswer = 0;
    int fellDue = 0;
    for (int day = 2; day <= days; ++day) {
      ASSERT_TRUE(RecordDayEarlier()) << "no record after day " << day - 1;
      const uint64_t now = FileTimeNow();
      for (const Look& k : Looks()) oldestDays = std::max(oldestDays, static_cast<double>(now - k.lookedAt) / kDay);
      RunAgain(LaunchArg(2));
      const Start s = Measured();
      Report(Numbered("day_%02d", day), s);
      later.push_back(s.toClientMs);
      slowestAnswer = std::max(slowestAnswer, s.slowestMs);
      // What the comparison read (whole files and parts of big ones), as
      // its trace says.
      double readMb = -1;
      for (const auto& line : Trace()) {
        fellDue += line.find("its turn to be read again") != std::string::npos;
        const std::size_t at = line.find("CheckInstalledFiles: ");
        if (at != std::string::npos && line.find(" MB read", at) != std::string::npos)
          readMb = std::atof(line.c_str() + at + 21);
      }
      EXPECT_GE(readMb, 0) << "day " << day << ": no line of the MB read";
      EXPECT_EQ(Looks().size(), static_cast<std::size_t>(t.listed)) << "day " << day;
      Figure(Numbered("day_%02d_read_mb", day), readMb);
    }
    std::sort(later.begin(), later.end());
    Figure("later_slowest_ms", static_cast<double>(later.back()));
    Figure("later_median_ms", static_cast<double>(later[later.size() / 2]));
    Figure("later_fastest_ms", static_cast<double>(later.front()));
    Figure("later_slowest_answer_ms", slowestAnswer);
    Figure("oldest_look_days", oldestDays);
    Figure("fell_due", fellDue);
    WriteText(t.listPath, t.oneLine);
    RunAgain(LaunchArg(2));
    Report("paced_one_listed_file", Measured());
    // The tree as init wrote it, for the next scenario over it.
    WriteText(t.listPath, t.fullList);
    WriteText(t.configPath, t.paced);
  }
};

// With the days init gives this client, and with the updater's default of 7,
// at which each start's share is a sixth of the client and its biggest file.
TEST_F(WorkerBenchDaily, DISABLED_ThirtyDailyStartsOn10GB) { RunDays(k10GB, 30); }
TEST_F(WorkerBenchDaily, DISABLED_ThirtyDailyStartsOn10GBRecordOf7Days) { RunDays(k10GB, 30, 7); }

}  // namespace
}  // namespace scn
