// Benchmarks of whole runs (not part of the normal suite: every test here is
// disabled and runs only when asked for):
//
//   ul_scenarios --gtest_also_run_disabled_tests --gtest_filter='WorkerBench*'
//
// Each one checks that the run did its work, then reports its figures on
// stdout, as test properties and in bench.txt of its output folder:
//   - the wall time of the run (Ulmet.exe's process, from its start to its end);
//   - the time from the updater's process start to the client's start record;
//   - the updater's peak resident memory (VmHWM of the Wine process running
//     Ulmet.exe), which must not grow with the size of the files it fetches.
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

#include "harness/proc.h"
#include "harness/scenario.h"

namespace fs = std::filesystem;

namespace scn {
namespace {

using WorkerBench = Scenario;

std::string ReadProcFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// Milliseconds since 1970 of the moment the system booted, as the clock
// stands now (the start times in /proc count from boot; /proc/stat's btime
// is whole seconds only).
long long BootEpochMs() {
  timespec real{}, boot{};
  clock_gettime(CLOCK_REALTIME, &real);
  clock_gettime(CLOCK_BOOTTIME, &boot);
  return (static_cast<long long>(real.tv_sec) - boot.tv_sec) * 1000 + (real.tv_nsec - boot.tv_nsec) / 1000000;
}

// Watches /proc for the Wine processes of this prefix whose command line
// names Ulmet.exe and keeps, per process, its start time and the highest
// peak resident size seen (VmHWM only grows, so the last reading before the
// process ends is its peak up to 20 ms).
class UpdaterWatch {
 public:
  struct Seen {
    long long startMs = 0;
    long peakKb = 0;
  };

  explicit UpdaterWatch(const std::string& prefix)
      : prefixEnv_("WINEPREFIX=" + prefix), thread_([this] { Loop(); }) {}
  ~UpdaterWatch() {
    stop_ = true;
    thread_.join();
  }
  std::map<int, Seen> Processes() {
    std::lock_guard<std::mutex> lock(mutex_);
    return seen_;
  }

 private:
  void Loop() {
    const long long boot = BootEpochMs();
    const long ticks = sysconf(_SC_CLK_TCK);
    while (!stop_) {
      std::error_code ec;
      for (const auto& e : fs::directory_iterator("/proc", ec)) {
        std::string name = e.path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
        int pid = std::stoi(name);
        if (rejected_.count(pid)) continue;
        std::string dir = "/proc/" + name;
        bool known;
        {
          std::lock_guard<std::mutex> lock(mutex_);
          known = seen_.count(pid) != 0;
        }
        if (!known) {
          std::string cmd = ReadProcFile(dir + "/cmdline");
          std::string env = ReadProcFile(dir + "/environ");
          bool updater = cmd.find("Ulmet.exe") != std::string::npos && cmd.find("UlmetMain") == std::string::npos;
          bool ours = env.find(prefixEnv_ + std::string(1, '\0')) != std::string::npos;
          if (cmd.empty()) continue;  // gone, or not readable yet
          if (!updater || !ours) {
            rejected_.insert(pid);
            continue;
          }
          // Field 22 of stat, counted after the command name's closing ')'.
          std::string stat = ReadProcFile(dir + "/stat");
          size_t close = stat.rfind(')');
          if (close == std::string::npos) continue;
          std::istringstream fields(stat.substr(close + 2));
          std::string f;
          long long startTicks = 0;
          for (int i = 3; i <= 22 && fields >> f; ++i) {
            if (i == 22) startTicks = std::stoll(f);
          }
          std::lock_guard<std::mutex> lock(mutex_);
          seen_[pid].startMs = boot + startTicks * 1000 / ticks;
        }
        std::istringstream status(ReadProcFile(dir + "/status"));
        std::string line;
        while (std::getline(status, line)) {
          if (line.rfind("VmHWM:", 0) != 0) continue;
          long kb = std::atol(line.c_str() + 6);
          std::lock_guard<std::mutex> lock(mutex_);
          if (kb > seen_[pid].peakKb) seen_[pid].peakKb = kb;
        }
      }
      SleepSeconds(0.02);
    }
  }

  std::string prefixEnv_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::map<int, Seen> seen_;
  std::set<int> rejected_;
  std::thread thread_;
};

struct Figures {
  double runSeconds = 0;
  long long startToClientMs = -1;
  long peakKb = 0;
  int updaterProcesses = 0;
};

// The figures of the run just made: the first updater process is the one
// the harness started.
Figures Measure(const RunResult& result, UpdaterWatch& watch, const std::vector<tb::Record>& starts) {
  Figures f;
  f.runSeconds = result.seconds;
  auto procs = watch.Processes();
  f.updaterProcesses = static_cast<int>(procs.size());
  long long firstStart = 0;
  for (const auto& p : procs) {
    if (firstStart == 0 || p.second.startMs < firstStart) firstStart = p.second.startMs;
    if (p.second.peakKb > f.peakKb) f.peakKb = p.second.peakKb;
  }
  for (const auto& s : starts) {
    if (s.at("program") == "UlmetMain.exe" && firstStart > 0)
      f.startToClientMs = std::stoll(s.at("time_ms")) - firstStart;
  }
  return f;
}

void Report(::testing::Test* test, const std::string& outDir, const std::string& what, const Figures& f) {
  char line[512];
  std::snprintf(line, sizeof line,
                "%s: run %.2f s, updater start to client start %lld ms, updater peak resident %ld kB (%d process(es))\n",
                what.c_str(), f.runSeconds, f.startToClientMs, f.peakKb, f.updaterProcesses);
  std::fputs(line, stdout);
  std::ofstream(outDir + "/bench.txt", std::ios::app) << line;
  test->RecordProperty("run_ms", std::to_string(static_cast<long long>(f.runSeconds * 1000)));
  test->RecordProperty("start_to_client_ms", std::to_string(f.startToClientMs));
  test->RecordProperty("peak_kb", std::to_string(f.peakKb));
}

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

TEST_F(WorkerBench, DISABLED_ThousandFilesAndAnArchiveOfTwoThousandEntries) {
  auto& world = Given();
  world.InstalledClient(1000).TimeLimit(900);
  std::string line;
  int version = 1000;
  for (int i = 1; i <= 1000; ++i) {
    std::string name = Numbered("f%04d.dat", i);
    world.PublishedFile(name, SmallContent(i));
    if (line.empty()) line = "version " + std::to_string(++version);
    line += " " + name;
    if (i % 50 == 0) {
      world.Release(line);
      line.clear();
    }
  }
  for (int i = 1; i <= 2000; ++i) world.PublishedFile(Numbered("Data/e%04d.txt", i), SmallContent(5000 + i));
  world.Release("archive Data.zip Data").Release("version " + std::to_string(++version) + " Data.zip");
  UpdaterWatch watch(TestPaths().prefix);
  Run(LaunchArg(2));
  Figures f = Measure(Result(), watch, Starts());

  ExpectNoBox();
  ExpectNoTrace("일부 파일 이상으로 다운로드를 다시시작합니다.");
  std::string release = OutputDir() + "/release/client";
  size_t checked = 0;
  for (int i = 1; i <= 1000; ++i, ++checked) {
    std::string name = Numbered("f%04d.dat", i);
    ASSERT_EQ(ClientFileText(name), SmallContent(i)) << name;
  }
  for (int i = 1; i <= 2000; ++i, ++checked) {
    std::string name = Numbered("Data\\e%04d.txt", i);
    ASSERT_EQ(ClientFileText(name), SmallContent(5000 + i)) << name;
  }
  EXPECT_EQ(checked, 3000u);
  ExpectNoClientFile("Data.zip");
  ExpectRegistry("HKLM\\Software\\ULMET", "AppVersion", std::to_string(version));
  ExpectStarted("UlmetMain.exe", QuotedArg(LaunchArg(2)));
  EXPECT_FALSE(Result().timedOut);
  Report(this, OutputDir(), "1,000 files and an archive of 2,000 entries", f);
}

class WorkerBenchLargeFile : public Scenario {
 protected:
  void RunWith(size_t megabytes) {
    std::string body(megabytes << 20, '\0');
    uint32_t x = 2463534242u;
    for (size_t i = 0; i + 4 <= body.size(); i += 4) {
      x ^= x << 13;
      x ^= x >> 17;
      x ^= x << 5;
      std::memcpy(&body[i], &x, 4);
    }
    Given().InstalledClient(1000)
           .TimeLimit(1800)
           .ClientFile("big.bin", "the copy being replaced")
           .PublishedFile("big.bin", body)
           .Release("version 1001 big.bin");
    UpdaterWatch watch(TestPaths().prefix);
    Run(LaunchArg(2));
    Figures f = Measure(Result(), watch, Starts());
    ExpectNoBox();
    ExpectNoTrace("일부 파일 이상으로 다운로드를 다시시작합니다.");
    std::string got = ClientFileText("big.bin");
    EXPECT_EQ(got.size(), body.size());
    EXPECT_TRUE(got == body) << "big.bin differs from the published file";
    ExpectStarted("UlmetMain.exe", QuotedArg(LaunchArg(2)));
    // The download and the digest both go through small fixed buffers: the
    // updater's memory stays far below the file's size.
    EXPECT_GT(f.peakKb, 0) << "the updater's process was not seen";
    EXPECT_LT(f.peakKb, 128L * 1024) << "peak resident memory grows with the file";
    Report(this, OutputDir(), "one file of " + std::to_string(megabytes) + " MB", f);
    std::printf("  throughput %.1f MB/s over the whole run\n", megabytes / f.runSeconds);
  }
};

TEST_F(WorkerBenchLargeFile, DISABLED_OneFileOf16MB) { RunWith(16); }
TEST_F(WorkerBenchLargeFile, DISABLED_OneFileOf256MB) { RunWith(256); }

class WorkerBenchLaunch : public Scenario {
 protected:
  void RunWith(int files) {
    auto& world = Given();
    world.InstalledClient(1001);
    for (int i = 1; i <= files; ++i) {
      std::string name = Numbered("Files/f%04d.dat", i);
      world.PublishedFile(name, SmallContent(i)).ClientFile(Numbered("Files\\f%04d.dat", i), SmallContent(i));
    }
    world.Release("version 1001 " + Numbered("Files\\f%04d.dat", 1));
    UpdaterWatch watch(TestPaths().prefix);
    Run(LaunchArg(2));
    Figures f = Measure(Result(), watch, Starts());
    ExpectNoBox();
    ExpectNoTrace("일부 파일 이상으로 다운로드를 다시시작합니다.");
    ExpectNotRequested("/Ulmet3/files/Files/f0001.dat");
    ExpectStarted("UlmetMain.exe", "C:\\Ulmet\\UlmetMain.exe " + QuotedArg(LaunchArg(2)));
    EXPECT_GT(f.startToClientMs, 0) << "no start time for the updater or the client";
    Report(this, OutputDir(), "launch, nothing to update, hash list of " + std::to_string(files + 1) + " files", f);
  }
};

TEST_F(WorkerBenchLaunch, DISABLED_NothingToUpdateWithAThousandDigests) { RunWith(1000); }
TEST_F(WorkerBenchLaunch, DISABLED_NothingToUpdateWithOneDigest) { RunWith(1); }

}  // namespace
}  // namespace scn
