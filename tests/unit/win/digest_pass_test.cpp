// The launch step's comparison on the user-interface thread: the real
// progress dialog, real files and Windows' own timers and messages. And the
// two things it stands on: the 1 ms pause that handles messages, and the
// verified-state record on disk.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <sstream>
#include <thread>
#include <vector>

#include "common/pause.h"
#include "common/pause_win.h"
#include "formats/trust/file_hasher.h"
#include "formats/base/owned_win.h"
#include "formats/trust/md5.h"
#include "file_support.h"
#include "run/main_dlg.h"
#include "run/verified_files.h"
#include "run_support.h"
#include "ui_box_watch.h"

namespace {

void NoPause(void*) {}

std::string DigestOf(const std::string& path) {
  FileHasher hasher;
  hasher.SetChunkHook(&NoPause, nullptr);
  char digest[33] = {0};
  EXPECT_TRUE(hasher.ComputeFileDigest(path.c_str(), digest));
  return digest;
}

class DigestPassTest : public ::testing::Test {
 protected:
  void SetUp() override {
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&icc);
    folder_ = filesupport::FreshFolder("digestpass");
    ul::Copy(config_.clientFolder, (folder_ + "\\").c_str());
    // 8 MB: 256 chunks, each with its pause: long enough for many ticks.
    ASSERT_TRUE(filesupport::WriteBytes(folder_ + "\\big.bin", filesupport::Pattern(8 << 20, 3)));
    HashEntry e;
    ul::Copy(e.fileName, "big.bin");
    ul::Copy(e.subPath, ".\\");
    ul::Copy(e.digestHex, DigestOf(folder_ + "\\big.bin").c_str());
    e.entryNumber = 1;
    config_.hashEntries.push_back(e);
  }
  void TearDown() override { filesupport::RemoveFolder(folder_); }

  UpdateConfig config_;
  runsupport::TestApp app_{&config_};
  std::string folder_;
};

// The launch step run from the dialog's initialisation, as a run with
// nothing to update runs it, but with timer 1 ticking fast and the worker's
// end already set, so that every tick during the comparison asks for the
// launch step. There is no UlmetMain.exe: the step ends with its box.
// A comparison of more than a moment shows the dialog: the watch for the
// launch step's box looks past it.
class LaunchUnderTicks : public CULPatchwellDlg {
 public:
  explicit LaunchUnderTicks(bool closeFirst) : closeFirst_(closeFirst) {}
  std::unique_ptr<BoxWatch> watch;

 protected:
  BOOL OnInitDialog() override {
    watch.reset(new BoxWatch(0, nullptr, m_hWnd));
    SetTimer(m_hWnd, kStatusTimer, 5, nullptr);
    GetConfig()->updateFinished = 1;
    if (closeFirst_) PostMessageA(m_hWnd, WM_CLOSE, 0, 0);
    LaunchProgram();
    return TRUE;
  }

 private:
  bool closeFirst_;
};

TEST_F(DigestPassTest, TimerOneCannotStartASecondLaunchStepDuringTheComparison) {
  LaunchUnderTicks dlg(false);
  dlg.DoModal();
  ASSERT_TRUE(dlg.watch);
  dlg.watch->Join();
  // Had a tick started a launch step of its own, its box would have ended
  // the dialog before the file was compared.
  EXPECT_EQ(config_.hashEntries[0].status, 1);
  EXPECT_TRUE(dlg.watch->Found()) << "the launch step ended with its box after the comparison";
}

// The comparison pauses after every 32 KB chunk, as ever; with a pace,
// after every pace of bytes (8 MB: 256 pauses, or 2 at 4 MiB).
TEST_F(DigestPassTest, EachReadIsFollowedByItsPauseAtThePacesSize) {
  for (uint32_t pace : {32768u, 4u << 20}) {
    config_.program.pace.digestBytes = pace;
    config_.hashCheckDone = 0;
    config_.hashEntries[0].status = 0;
    LaunchUnderTicks dlg(false);
    const uint64_t before = ul::PausesTaken();
    dlg.DoModal();
    const uint64_t pauses = ul::PausesTaken() - before;
    ASSERT_TRUE(dlg.watch);
    dlg.watch->Join();
    EXPECT_EQ(config_.hashEntries[0].status, 1);
    EXPECT_EQ(pauses, (8u << 20) / pace) << "pace " << pace;
  }
}

// The record as the start of days later finds it: every time that many days
// earlier (its check line made anew).
void MoveRecordBackDays(const std::string& path, int days) {
  std::istringstream in(filesupport::ReadBytes(path));
  const uint64_t back = static_cast<uint64_t>(days) * ul::kFileTimeDay;
  std::string line, body;
  while (std::getline(in, line) && line.compare(0, 6, "check ") != 0) {
    std::istringstream words(line);
    std::vector<std::string> w(7);
    for (std::string& word : w) words >> word;
    if (w[0] == "full" || w[0] == "written") line = w[0] + " " + std::to_string(std::stoull(w[1]) - back);
    if (w[0] == "part") line = "part " + w[1] + " " + std::to_string(std::stoull(w[2]) - back) + " " + w[3];
    if (w[0] == "file") {
      std::string rest;
      std::getline(words, rest);  // " " and the path
      w[5] = std::to_string(std::stoull(w[5]) - back);
      line = w[0];
      for (std::size_t i = 1; i < w.size(); ++i) line += " " + w[i];
      line += rest;
    }
    body += line + "\n";
  }
  char digest[33];
  DigestBuffer(body.data(), body.size(), digest);
  ASSERT_TRUE(filesupport::WriteBytes(path, body + "check " + digest + "\n"));
}

// The files whose record says they were read at the last start: their
// looked-at time is at or after since.
int ReadSince(const std::string& recordPath, uint64_t since) {
  std::istringstream in(filesupport::ReadBytes(recordPath));
  int n = 0;
  for (std::string line; std::getline(in, line);) {
    std::istringstream words(line);
    std::vector<std::string> w(6);
    for (std::string& word : w) words >> word;
    if (w[0] == "file" && std::stoull(w[5]) >= since) ++n;
  }
  return n;
}

// A rolling record over month-old files of these sizes (as files are that
// a client has had for a while: older than any record moved back below).
void RollingClient(UpdateConfig& config, const std::string& folder, const std::vector<int>& sizes) {
  config.hashEntries.clear();
  const uint64_t month = FileTimeNow() - 30 * ul::kFileTimeDay;
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    const std::string name = "f" + std::to_string(i) + ".bin";
    ASSERT_TRUE(filesupport::WriteBytes(folder + "\\" + name, filesupport::Pattern(sizes[i], static_cast<int>(i))));
    FILETIME written = {static_cast<DWORD>(month), static_cast<DWORD>(month >> 32)};
    ul::Handle h(CreateFileA((folder + "\\" + name).c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0,
                             nullptr));
    ASSERT_TRUE(h && SetFileTime(h.Get(), nullptr, nullptr, &written));
    HashEntry e;
    ul::Copy(e.fileName, name.c_str());
    ul::Copy(e.subPath, ".\\");
    ul::Copy(e.digestHex, DigestOf(folder + "\\" + name).c_str());
    e.entryNumber = static_cast<int>(i) + 1;
    config.hashEntries.push_back(e);
  }
  config.program.verifiedStateDays = 7;
  config.program.pace.rereadMs = 1;
}

// One start's comparison, every file found as the list expects it.
void StartOnce(UpdateConfig& config) {
  config.hashCheckDone = 0;
  for (HashEntry& e : config.hashEntries) e.status = 0;
  LaunchUnderTicks dlg(false);
  dlg.DoModal();
  ASSERT_TRUE(dlg.watch);
  dlg.watch->Join();
  for (const HashEntry& e : config.hashEntries) EXPECT_EQ(e.status, 1) << e.fileName;
}

// Where the record's paused read of a file stands (0: none).
uint64_t PartBytes(const std::string& recordPath) {
  const std::string text = filesupport::ReadBytes(recordPath);
  const std::size_t at = text.find("\npart ");
  return at == std::string::npos ? 0 : std::stoull(text.substr(at + 6));
}

// Rolling, a start reads again the files read longest ago: a day later, the
// share of seven files and the biggest once more over six days (two, each
// counted with its opening); within
// the hour, nothing; and every file once its days have run out; never all
// of them again just because the record grew old.
TEST_F(DigestPassTest, RollingStartsReadTheOldestShareAndWhatFellDue) {
  RollingClient(config_, folder_, std::vector<int>(7, 65536));
  const std::string record = folder_ + "\\ULVerified.dat";
  const struct {
    int daysBack;
    int read;
  } starts[] = {{0, 7}, {1, 2}, {0, 0}, {1, 2}, {7, 7}};
  for (const auto& start : starts) {
    if (start.daysBack > 0) MoveRecordBackDays(record, start.daysBack);
    const uint64_t before = FileTimeNow();
    StartOnce(config_);
    EXPECT_EQ(ReadSince(record, before), start.read) << start.daysBack << " days later";
  }
}

// A file bigger than a start's share is read again in parts: each start
// goes on where the last one paused (unless less than 4 MB is left), and
// the file counts as read from the day its read began. 8 MB and six files
// of 64 KB, and the 8 MB once more, each file with its 128 KiB for opening
// it, over six days: a share of 3,036,502 bytes, the big file's opening
// and 89 chunks; after the big file, the six small ones and the big one's
// next turn (the seven openings and 53 chunks).
TEST_F(DigestPassTest, RollingStartsReadABigFileInParts) {
  RollingClient(config_, folder_, {8 << 20, 65536, 65536, 65536, 65536, 65536, 65536});
  const std::string record = folder_ + "\\ULVerified.dat";
  const struct {
    uint64_t partBytes;
    int read;  // files whose read began at this start and ended
  } starts[] = {{0, 7}, {2916352, 0}, {0, 0}, {1736704, 6}};
  for (const auto& start : starts) {
    if (&start != starts) MoveRecordBackDays(record, 1);
    const uint64_t before = FileTimeNow();
    StartOnce(config_);
    EXPECT_EQ(PartBytes(record), start.partBytes) << "start " << &start - starts;
    EXPECT_EQ(ReadSince(record, before), start.read) << "start " << &start - starts;
  }
}

TEST_F(DigestPassTest, CloseRequestDuringTheComparisonEndsTheRunWithoutALaunch) {
  LaunchUnderTicks dlg(true);
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  ASSERT_TRUE(dlg.watch);
  dlg.watch->Stop();
  dlg.watch->Join();
  EXPECT_EQ(config_.hashEntries[0].status, 0) << "the comparison stopped at the close";
  EXPECT_EQ(config_.hashCheckDone, 1);
  EXPECT_FALSE(dlg.watch->Found()) << "the launch step went on after the close";
}

void CountAppMessages(void* count) {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, WM_APP, WM_APP, PM_REMOVE)) ++*static_cast<int*>(count);
}

TEST(Pause, LastsAboutOneMillisecondAndHandlesMessagesMeanwhile) {
  LARGE_INTEGER f, a, b;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&a);
  for (int i = 0; i < 200; ++i) ul::PauseOneMillisecond();
  QueryPerformanceCounter(&b);
  const double ms = 1000.0 * static_cast<double>(b.QuadPart - a.QuadPart) / f.QuadPart / 200;
  EXPECT_GT(ms, 0.9);
  EXPECT_LT(ms, 5.0);

  int handled = 0;
  const DWORD self = GetCurrentThreadId();
  std::thread late([self] {
    Sleep(1);
    PostThreadMessageA(self, WM_APP, 0, 0);
  });
  PostThreadMessageA(self, WM_APP, 0, 0);
  for (int i = 0; i < 50 && handled < 2; ++i) ul::PauseOneMillisecondHandling(&CountAppMessages, &handled);
  late.join();
  EXPECT_EQ(handled, 2);
}

// What the system says about a file: the same twice, and another identity
// for a copy with the same bytes and time.
TEST(VerifiedFilesDisk, FactsIncludeTheFilesIdentity) {
  const std::string folder = filesupport::FreshFolder("facts");
  const std::string a = folder + "\\a.bin", b = folder + "\\b.bin";
  ASSERT_TRUE(filesupport::WriteBytes(a, "same bytes"));
  ASSERT_TRUE(CopyFileA(a.c_str(), b.c_str(), FALSE));
  ul::FileFacts fa, fa2, fb;
  ASSERT_TRUE(LookAtFile(a.c_str(), &fa));
  ASSERT_TRUE(LookAtFile(a.c_str(), &fa2));
  ASSERT_TRUE(LookAtFile(b.c_str(), &fb));
  EXPECT_EQ(fa, fa2);
  EXPECT_EQ(fa.size, 10u);
  EXPECT_NE(fa.index, fb.index);
  EXPECT_FALSE(LookAtFile(folder.c_str(), &fb)) << "a folder is no installed file";
  EXPECT_FALSE(LookAtFile((folder + "\\none").c_str(), &fb));
  filesupport::RemoveFolder(folder);
}

// The record vouches only from what the file itself says: a folder's listing
// can be older than a change (under NTFS a change through another hard link
// leaves the folder's entry as it was; here a listing taken a moment
// before), and a changed file must be read.
TEST(VerifiedFilesDisk, AFileChangedAfterItsFolderWasListedIsRead) {
  const std::string folder = filesupport::FreshFolder("stale");
  UpdateConfig config;
  ul::Copy(config.clientFolder, (folder + "\\").c_str());
  config.program.verifiedStateDays = 7;
  const std::string a = folder + "\\a.bin", b = folder + "\\b.bin";
  ASSERT_TRUE(filesupport::WriteBytes(a, filesupport::Pattern(70000, 'a')));
  ASSERT_TRUE(filesupport::WriteBytes(b, filesupport::Pattern(70000, 'b')));
  const std::string digestA = DigestOf(a), digestB = DigestOf(b);
  {
    VerifiedFiles first;
    first.Load(config);
    FileHasher hasher;
    ASSERT_TRUE(first.ReadAndCompare(a.c_str(), digestA.c_str(), hasher));
    ASSERT_TRUE(first.ReadAndCompare(b.c_str(), digestB.c_str(), hasher));
    ASSERT_TRUE(first.Save());
  }
  Sleep(50);
  VerifiedFiles second;
  second.Load(config);
  ASSERT_EQ(second.Check(a.c_str(), digestA.c_str()), ul::Verdict::kVouched);  // lists the folder
  ASSERT_TRUE(filesupport::WriteBytes(b, filesupport::Pattern(70000, 'c')));  // same size, other bytes
  EXPECT_NE(second.Check(b.c_str(), digestB.c_str()), ul::Verdict::kVouched);
  filesupport::RemoveFolder(folder);
}

// Two updaters saving at once while a third reads: every record read is
// whole, and both writers get theirs in now and then.
TEST(VerifiedFilesDisk, TwoWritersAndAReaderNeverMeetAHalfWrittenRecord) {
  const std::string folder = filesupport::FreshFolder("record");
  UpdateConfig config;
  ul::Copy(config.clientFolder, (folder + "\\").c_str());
  config.program.verifiedStateDays = 7;
  for (const char* name : {"a.bin", "b.bin"})
    ASSERT_TRUE(filesupport::WriteBytes(folder + "\\" + name, filesupport::Pattern(70000, name[0])));
  std::atomic<bool> writing{true};
  std::atomic<int> whole{0}, damaged{0};
  std::atomic<int> saved[2] = {{0}, {0}};
  auto writer = [&](const char* name) {
    const std::string path = folder + "\\" + name;
    const std::string digest = DigestOf(path);
    for (int i = 0; i < 60; ++i) {
      VerifiedFiles files;
      files.Load(config);
      FileHasher hasher;
      EXPECT_TRUE(files.ReadAndCompare(path.c_str(), digest.c_str(), hasher));
      if (files.Save()) ++saved[name[0] - 'a'];
    }
  };
  std::thread reader([&] {
    while (writing) {
      // Opened as the updater opens it: a writer may move its record in.
      HANDLE h = CreateFileA((folder + "\\ULVerified.dat").c_str(), GENERIC_READ,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                             nullptr);
      if (h == INVALID_HANDLE_VALUE) continue;
      std::string text;
      char buf[4096];
      DWORD n = 0;
      while (ReadFile(h, buf, sizeof buf, &n, nullptr) && n > 0) text.append(buf, n);
      CloseHandle(h);
      ul::VerifiedRecord record(folder + "\\", 7);
      if (record.Adopt(text, FileTimeNow()) == ul::VerifiedRecord::Refusal::kNone)
        ++whole;
      else
        ++damaged;
    }
  });
  std::thread first(writer, "a.bin"), second(writer, "b.bin");
  first.join();
  second.join();
  writing = false;
  reader.join();
  EXPECT_EQ(damaged.load(), 0);
  EXPECT_GT(whole.load(), 0);
  EXPECT_GT(saved[0].load(), 0);
  EXPECT_GT(saved[1].load(), 0);
  filesupport::RemoveFolder(folder);
}

}  // namespace
