// Downloads from the test bed's HTTP server on loopback port 80, with its
// fault injection (server_support.h).
#include <windows.h>

#include <commctrl.h>
#include <wininet.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "formats/trust/release_crypto.h"
#include "formats/trust/release_manifest.h"
#include "file_support.h"
#include "net/held_file_win.h"
#include "common/pause.h"
#include "net/http_downloader_win.h"
#include "server_support.h"

namespace {

using filesupport::Exists;
using filesupport::ScopedFolder;
using filesupport::WriteBytes;
using serversupport::Control;
using serversupport::Env;
using serversupport::ServedFolder;

// Progress bars whose every PBM_SETPOS is recorded.
std::vector<WPARAM> g_filePositions, g_totalPositions;
HWND g_fileBar, g_totalBar;
WNDPROC g_barProc;

LRESULT CALLBACK RecordingBarProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == PBM_SETPOS) (hwnd == g_fileBar ? g_filePositions : g_totalPositions).push_back(wp);
  return CallWindowProcA(g_barProc, hwnd, msg, wp, lp);
}

struct Job {
  std::string host, object;
  char local[MAX_PATH + 1];
  HWND fileBar, totalBar;
  int result;
  const ul::ReleaseManifest* release;
  uint32_t pace;
  uint64_t pauses;
};

DWORD WINAPI DownloadThread(LPVOID p) {
  Job* job = static_cast<Job*>(p);
  CHttpDownloader downloader(job->release);
  downloader.PaceReads(job->pace);
  const uint64_t before = ul::PausesTaken();
  job->result = downloader.DownloadFile(job->host.c_str(), job->object.c_str(), job->local, job->fileBar,
                                        job->totalBar);
  job->pauses = ul::PausesTaken() - before;
  return 0;
}

class Download : public ::testing::Test {
 protected:
  void SetUp() override {
    host_ = Env("ULMET_TEST_HTTP_HOST");
    served_ = ServedFolder();
    if (host_.empty() || served_.empty()) GTEST_SKIP() << "needs tests/unit/download_server_test.sh";
    ASSERT_EQ(Control("clear"), 200) << "test server not reachable at " << host_;
    CreateDirectoryA((served_ + "\\dl").c_str(), nullptr);
  }
  void TearDown() override {
    if (!host_.empty()) Control("clear");
  }
  void Publish(const std::string& name, const std::string& data) {
    ASSERT_TRUE(WriteBytes(served_ + "\\dl\\" + name, data));
  }
  void Arm(const std::string& name, const std::string& kindAndParams) {
    ASSERT_EQ(Control("fault?path=/dl/" + name + "&kind=" + kindAndParams), 200);
  }
  // Downloads on a worker thread, as the update does, while this thread
  // serves the bars' messages.
  int Fetch(const std::string& name, std::string* local, bool bars = false,
            const ul::ReleaseManifest* release = nullptr, uint32_t pace = kDefaultReadBytes) {
    Job job{host_, "/dl/" + name, {0}, bars ? g_fileBar : nullptr, bars ? g_totalBar : nullptr, -1, release, pace, 0};
    lstrcpynA(job.local, local->c_str(), sizeof(job.local));
    HANDLE thread = CreateThread(nullptr, 0, DownloadThread, &job, 0, nullptr);
    while (MsgWaitForMultipleObjects(1, &thread, FALSE, 30000, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
      MSG msg;
      while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    }
    CloseHandle(thread);
    *local = job.local;
    pauses_ = job.pauses;
    return job.result;
  }
  uint64_t pauses_ = 0;
  std::string host_, served_;
};

TEST_F(Download, WholeFileMovesBothRealProgressBars) {
  ScopedFolder t("dl");
  const std::string data = filesupport::Pattern(200000, 3);
  Publish("whole.bin", data);
  INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&icc);
  g_fileBar = CreateWindowA(PROGRESS_CLASSA, "", WS_POPUP, 0, 0, 200, 20, nullptr, nullptr, nullptr, nullptr);
  g_totalBar = CreateWindowA(PROGRESS_CLASSA, "", WS_POPUP, 0, 30, 200, 20, nullptr, nullptr, nullptr, nullptr);
  ASSERT_TRUE(g_fileBar && g_totalBar);
  g_barProc = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(g_fileBar, GWLP_WNDPROC));
  SetWindowLongPtrA(g_fileBar, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(RecordingBarProc));
  SetWindowLongPtrA(g_totalBar, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(RecordingBarProc));
  SendMessageA(g_fileBar, PBM_SETRANGE32, 0, 32);
  SendMessageA(g_totalBar, PBM_SETRANGE32, 0, 96);
  SendMessageA(g_totalBar, PBM_SETPOS, 32, 0);  // one file done before this one
  g_filePositions.clear();
  g_totalPositions.clear();

  std::string local = t / "deep\\er\\whole.bin";  // folders made on the way
  ASSERT_EQ(Fetch("whole.bin", &local, true), 1);
  EXPECT_TRUE(filesupport::HasBytes(local, data));
  EXPECT_FALSE(Exists(local + "~dl"));
  EXPECT_EQ(SendMessageA(g_fileBar, PBM_GETPOS, 0, 0), 32);
  EXPECT_EQ(SendMessageA(g_totalBar, PBM_GETPOS, 0, 0), 64);
  // 0 first, then each of the 32 steps once, in order, on both bars.
  ASSERT_EQ(g_filePositions.size(), 33u);
  ASSERT_EQ(g_totalPositions.size(), 32u);
  for (WPARAM i = 0; i < 33; ++i) EXPECT_EQ(g_filePositions[i], i);
  for (WPARAM i = 0; i < 32; ++i) EXPECT_EQ(g_totalPositions[i], 33 + i);

  // Without a length the step is 32768 bytes: 200000 bytes reach step 6.
  Arm("whole.bin", "nolength");
  SendMessageA(g_totalBar, PBM_SETPOS, 64, 0);
  local = t / "nolength.bin";
  ASSERT_EQ(Fetch("whole.bin", &local, true), 1);
  EXPECT_TRUE(filesupport::HasBytes(local, data));
  EXPECT_EQ(SendMessageA(g_fileBar, PBM_GETPOS, 0, 0), 6);
  EXPECT_EQ(SendMessageA(g_totalBar, PBM_GETPOS, 0, 0), 70);
  DestroyWindow(g_fileBar);
  DestroyWindow(g_totalBar);
}

// Every read of a body is followed by its pause: one read of at most 4,096
// bytes by default, as ever; with a pace, one pause per pace of bytes.
TEST_F(Download, EachReadIsFollowedByItsPauseAtThePacesSize) {
  ScopedFolder t("dl");
  const std::string data = filesupport::Pattern(1 << 20, 5);
  Publish("paced.bin", data);
  std::string local = t / "default.bin";
  ASSERT_EQ(Fetch("paced.bin", &local), 1);
  EXPECT_TRUE(filesupport::HasBytes(local, data));
  EXPECT_GE(pauses_, (1u << 20) / 4096) << "one pause after every read of 4,096 bytes at most";
  local = t / "paced.bin";
  ASSERT_EQ(Fetch("paced.bin", &local, false, nullptr, 256 << 10), 1);
  EXPECT_TRUE(filesupport::HasBytes(local, data));
  EXPECT_LE(pauses_, 5u) << "four reads of 256 KiB and the end";
}

TEST_F(Download, RefusedAnswersAndCutBodiesLeaveTheOldFile) {
  ScopedFolder t("dlf");
  Publish("file.bin", filesupport::Pattern(50000, 1));
  const std::string local = t / "file.bin";
  for (const char* fault : {"status&status=404", "status&status=500", "status&status=401",
                            "status&status=407", "cut&bytes=20000", "cut&bytes=0"}) {
    ASSERT_TRUE(WriteBytes(local, "previous version"));
    Arm("file.bin", fault);
    std::string path = local;
    EXPECT_EQ(Fetch("file.bin", &path), 0) << fault;
    EXPECT_TRUE(filesupport::HasBytes(local, "previous version")) << fault;
    EXPECT_FALSE(Exists(local + "~dl")) << fault;
  }
  // Nothing at all is made for a refused answer.
  Arm("file.bin", "status&status=404");
  std::string fresh = t / "new\\file.bin";
  EXPECT_EQ(Fetch("file.bin", &fresh), 0);
  EXPECT_FALSE(Exists(t / "new"));
  std::string missing = t / "missing.bin";
  EXPECT_EQ(Fetch("not-published.bin", &missing), 0);
  EXPECT_FALSE(Exists(missing));
}

// A build with a release key: only a listed file whose body has the recorded
// size and SHA-256 replaces the old one.
TEST_F(Download, WithAReleaseOnlyTheRecordedBodyReplacesTheFile) {
  ScopedFolder t("dlr");
  const std::string data = filesupport::Pattern(70000, 5);
  Publish("signed.bin", data);
  Publish("unlisted.bin", data);
  ul::ReleaseManifest release;
  release.files.resize(1);
  release.files[0].path = "/dl/signed.bin";
  release.files[0].size = data.size();
  ul::Sha256 sha;
  ASSERT_TRUE(sha.Update(data.data(), data.size()) && sha.Finish(release.files[0].sha256));

  const std::string local = t / "signed.bin";
  std::string path = local;
  ASSERT_EQ(Fetch("signed.bin", &path, false, &release), 1);
  EXPECT_TRUE(filesupport::HasBytes(local, data));
  Publish("same-size.bin", filesupport::Pattern(70000, 6));
  ul::ReleaseFile sameSize = release.files[0];  // signed.bin's size and digest
  sameSize.path = "/dl/same-size.bin";
  release.files.insert(release.files.begin(), sameSize);  // the paths stay in order
  const struct {
    const char* name;
    const char* fault;  // "" for none
  } refused[] = {
      {"signed.bin", "body&body=evil"},
      {"signed.bin", "empty"},
      {"same-size.bin", ""},
      {"unlisted.bin", ""},
  };
  for (const auto& r : refused) {
    ASSERT_TRUE(WriteBytes(local, "previous version"));
    if (r.fault[0] != '\0') Arm(r.name, r.fault);
    path = local;
    EXPECT_EQ(Fetch(r.name, &path, false, &release), 0) << r.name << " " << r.fault;
    EXPECT_TRUE(filesupport::HasBytes(local, "previous version")) << r.fault;
    EXPECT_FALSE(Exists(local + "~dl")) << r.fault;
    Control("clear");
  }
}

// A build with a release key: the record of one text file, published.
class HeldDownload : public Download {
 protected:
  void SetUp() override {
    Download::SetUp();
    if (IsSkipped()) return;
    Publish("held.bin", data_);
    release_.files.resize(1);
    release_.files[0].path = "/dl/held.bin";
    release_.files[0].size = data_.size();
    ul::Sha256 sha;
    ASSERT_TRUE(sha.Update(data_.data(), data_.size()) && sha.Finish(release_.files[0].sha256));
  }
  const std::string data_ = "[ULMET]\r\n1001 a.dll\r\n1002 b.dll\r\n";
  ul::ReleaseManifest release_;
};

// In the shared Temp folder, a partial file that another user made first
// under the download's name, and keeps open with write access, is never
// written into.
TEST_F(HeldDownload, SomeoneElsesPartialFileIsNotUsed) {
  ScopedFolder t("dlp");
  const std::string local = t / "held.bin";
  for (DWORD sharing : {DWORD{FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE},
                        DWORD{FILE_SHARE_READ | FILE_SHARE_WRITE}}) {
    SCOPED_TRACE(sharing);
    DeleteFileA(local.c_str());
    ASSERT_TRUE(WriteBytes(local + "~dl", "made first by someone else"));
    HANDLE foreign = CreateFileA((local + "~dl").c_str(), GENERIC_READ | GENERIC_WRITE, sharing,
                                 nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(foreign, INVALID_HANDLE_VALUE);
    std::string path = local;
    EXPECT_EQ(Fetch("held.bin", &path, false, &release_), 0);
    EXPECT_FALSE(Exists(local));
    DWORD n = 0;
    char back[64] = {0};
    SetFilePointer(foreign, 0, nullptr, FILE_BEGIN);
    ReadFile(foreign, back, sizeof back - 1, &n, nullptr);
    EXPECT_STREQ(back, "made first by someone else") << "the download wrote into it";
    CloseHandle(foreign);
  }
  DeleteFileA((local + "~dl").c_str());
  std::string path = local;
  EXPECT_EQ(Fetch("held.bin", &path, false, &release_), 1) << "once the name is free";
}

// The file held for use can be neither changed nor renamed nor removed, and
// is read as it was checked.
TEST_F(HeldDownload, HeldFileStaysAsChecked) {
  ScopedFolder t("dlh");
  const std::string local = t / "held.bin";
  const std::string& data = data_;
  CHttpDownloader downloader(&release_);
  ul::HeldFile held;
  char path[MAX_PATH];
  lstrcpynA(path, local.c_str(), sizeof path);
  ASSERT_EQ(downloader.DownloadFile(host_.c_str(), "/dl/held.bin", path, nullptr, nullptr, &held), 1);
  ASSERT_TRUE(held.IsOpen());
  EXPECT_EQ(CreateFileA(local.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_FALSE(DeleteFileA(local.c_str()));
  EXPECT_FALSE(MoveFileA(local.c_str(), (t / "moved.bin").c_str()));
  std::FILE* f = held.TextStream();  // read as the lists are: in text mode
  ASSERT_NE(f, nullptr);
  char text[64] = {0};
  EXPECT_EQ(std::fread(text, 1, sizeof text - 1, f), 30u);
  std::fclose(f);
  EXPECT_STREQ(text, "[ULMET]\n1001 a.dll\n1002 b.dll\n");
  std::string bytes;
  EXPECT_TRUE(held.ReadAll(1024, &bytes));
  EXPECT_EQ(bytes, data);
  held.Close();
  EXPECT_TRUE(DeleteFileA(local.c_str()));
}

TEST_F(Download, LengthRulesSlowServersAndLocalNames) {
  ScopedFolder t("dll");
  const std::string data = filesupport::Pattern(60000, 9);
  Publish("f.bin", data);
  Publish("my!name.txt", "bang");

  Arm("f.bin", "empty");  // Content-Length 0: success, nothing made
  std::string local = t / "empty\\f.bin";
  EXPECT_EQ(Fetch("f.bin", &local), 1);
  EXPECT_FALSE(Exists(t / "empty"));

  Arm("f.bin", "chunked");
  local = t / "chunked.bin";
  EXPECT_EQ(Fetch("f.bin", &local), 1);
  EXPECT_TRUE(filesupport::HasBytes(local, data));

  Arm("f.bin", "trickle&bytes=3000&interval_ms=15");  // pauses are not the end
  local = t / "trickle.bin";
  EXPECT_EQ(Fetch("f.bin", &local), 1);
  EXPECT_TRUE(filesupport::HasBytes(local, data));

  // Lengths are 64 bits wide: a body shorter than one past 2 GiB is cut,
  // not whole. Only a length beyond any file is no length, and the body is
  // taken to the connection's end.
  const struct {
    const char* length;
    int result;
  } lengths[] = {{"4294967296", 0}, {"2147483648", 0}, {"99999999999999999999", 1}};
  for (const auto& l : lengths) {
    Arm("f.bin", std::string("length&length=") + l.length);
    local = t / "huge-length.bin";
    EXPECT_EQ(Fetch("f.bin", &local), l.result) << l.length;
    EXPECT_EQ(filesupport::HasBytes(local, data), l.result == 1) << l.length;
  }

  local = t / "got!\\new!name.txt";  // written as given, '!' and all
  EXPECT_EQ(Fetch("my!name.txt", &local), 1);
  EXPECT_EQ(local, t / "got!\\new!name.txt");
  EXPECT_TRUE(filesupport::HasBytes(local, "bang"));

  char cwd[MAX_PATH];
  GetCurrentDirectoryA(sizeof(cwd), cwd);
  SetCurrentDirectoryA(t.path().c_str());
  local = "plain.bin";  // no folder part
  EXPECT_EQ(Fetch("f.bin", &local), 1);
  SetCurrentDirectoryA(cwd);
  EXPECT_TRUE(filesupport::HasBytes(t / "plain.bin", data));

  CHttpDownloader downloader;  // nobody listens there
  char path[MAX_PATH];
  lstrcpynA(path, (t / "none.bin").c_str(), sizeof(path));
  EXPECT_EQ(downloader.DownloadFile("127.0.0.254", "/dl/f.bin", path, nullptr, nullptr), 0);
  EXPECT_FALSE(Exists(path));
}

double PauseSeconds(int count, void (*pause)()) {
  LARGE_INTEGER f, a, b;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&a);
  for (int i = 0; i < count; ++i) pause();
  QueryPerformanceCounter(&b);
  return double(b.QuadPart - a.QuadPart) / f.QuadPart;
}

void SleepOne() { Sleep(1); }

// Run by scripts/bench.sh, which then fetches the same file with curl from
// the same server: the time for 64 MB, and what the pause after each 4 KB
// read costs here (the mean of 200 before and 200 after), beside Sleep(1)
// and what the system's high-resolution timer did when it was tried.
TEST_F(Download, DISABLED_Benchmark64MB) {
  ScopedFolder t("dlb");
  const std::string data = filesupport::Pattern(64 << 20, 5);
  Publish("big.bin", data);
  std::string local = t / "big.bin";
  double pausing = PauseSeconds(200, &ul::PauseOneMillisecond);
  double sleeping = PauseSeconds(200, &SleepOne);
  LARGE_INTEGER f, a, b;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&a);
  ASSERT_EQ(Fetch("big.bin", &local), 1);
  QueryPerformanceCounter(&b);
  pausing += PauseSeconds(200, &ul::PauseOneMillisecond);
  sleeping += PauseSeconds(200, &SleepOne);
  ASSERT_TRUE(filesupport::HasBytes(local, data));
  const ul::PauseChoice choice = ul::ThisThreadsPause();
  std::printf("bench download_s %.3f\nbench pause_ms %.4f\nbench sleep_ms %.4f\nbench timer_made %d\n"
              "bench timer_wait_ms %.4f\nbench pause_uses_timer %d\n",
              double(b.QuadPart - a.QuadPart) / f.QuadPart, pausing / 400 * 1000, sleeping / 400 * 1000,
              choice.timerMade ? 1 : 0, choice.timerWaitMs, choice.usesTimer ? 1 : 0);
}

}  // namespace
