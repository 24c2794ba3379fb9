#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "run/process.h"

namespace {

std::string OwnFolder() {
  char path[MAX_PATH] = {0};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string s(path);
  return s.substr(0, s.find_last_of("\\/") + 1);
}

std::string OwnName() {
  char path[MAX_PATH] = {0};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string s(path);
  return s.substr(s.find_last_of("\\/") + 1);
}

// A copy of the sleeper probe under a chosen name in a folder of its own,
// started and ended by the test.
class NamedProcess {
 public:
  explicit NamedProcess(const std::string& exeName) {
    char temp[MAX_PATH] = {0};
    GetTempPathA(MAX_PATH, temp);
    folder_ = std::string(temp) + "ul_proc_" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(folder_.c_str(), nullptr);
    path_ = folder_ + "\\" + exeName;
    std::string source = OwnFolder() + "ui_sleeper.exe";
    if (!CopyFileA(source.c_str(), path_.c_str(), FALSE)) return;
    std::string cmd = "\"" + path_ + "\" 30000";
    STARTUPINFOA si = {};
    si.cb = sizeof(si);
    if (CreateProcessA(path_.c_str(), &cmd[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                       folder_.c_str(), &si, &pi_)) {
      started_ = true;
      WaitForInputIdle(pi_.hProcess, 2000);
    }
  }
  ~NamedProcess() {
    Stop();
    DeleteFileA(path_.c_str());
    RemoveDirectoryA(folder_.c_str());
  }
  void Stop() {
    if (!started_) return;
    TerminateProcess(pi_.hProcess, 0);
    WaitForSingleObject(pi_.hProcess, 5000);
    CloseHandle(pi_.hProcess);
    CloseHandle(pi_.hThread);
    started_ = false;
  }
  bool started() const { return started_; }

 private:
  std::string folder_;
  std::string path_;
  PROCESS_INFORMATION pi_ = {};
  bool started_ = false;
};

TEST(IsProcessRunning, NoNameIsNeverRunning) {
  EXPECT_FALSE(IsProcessRunning(nullptr));
  EXPECT_FALSE(IsProcessRunning(""));
}

TEST(IsProcessRunning, FindsItselfInAnyLetterCase) {
  std::string own = OwnName();
  EXPECT_TRUE(IsProcessRunning(own.c_str())) << own;
  std::string upper = own;
  for (char& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  EXPECT_TRUE(IsProcessRunning(upper.c_str())) << upper;
}

TEST(IsProcessRunning, StartedCopyIsSeenUntilItEnds) {
  const char* name = "UlmetProbeMain.exe";
  ASSERT_FALSE(IsProcessRunning(name)) << "left over from an earlier run";
  NamedProcess process(name);
  ASSERT_TRUE(process.started()) << "could not start the sleeper copy";
  // The new process is listed once it has started up.
  bool seen = false;
  for (int i = 0; i < 150 && !seen; ++i) {
    seen = IsProcessRunning("ULMETPROBEMAIN.EXE");
    if (!seen) Sleep(20);
  }
  EXPECT_TRUE(seen);
  EXPECT_TRUE(IsProcessRunning("ulmetprobemain.exe"));
  // Only the whole file name counts.
  EXPECT_FALSE(IsProcessRunning("UlmetProbeMain"));
  EXPECT_FALSE(IsProcessRunning("ProbeMain.exe"));
  EXPECT_FALSE(IsProcessRunning("UlmetProbeMain.exe.exe"));
  process.Stop();
  EXPECT_FALSE(IsProcessRunning(name));
}

}  // namespace
