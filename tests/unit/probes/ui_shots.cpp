// Puts the updater's windows on screen one at a time for ui_screens_test.sh:
// the progress dialog, its about box and the message box of each type. Once
// a window has been painted, its rectangle goes to <signal folder>/ready;
// the script takes the screenshot and answers with <signal folder>/done,
// then the window is closed. Checks of the dialog's behaviour that need the
// live window are printed as "ok:" / "FAILED:" lines; any failure gives
// exit code 1.
//
//   ui_shots.exe <signal folder> progress|about|info|error|question|warning|long|check
#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>

#include "config/update_config.h"
#include "res/resource.h"
#include "run/app.h"
#include "run/main_dlg.h"
#include "ui/general_msg_dlg.h"

namespace {

std::string g_signal;
std::atomic<int> g_launchCalls{0};
int g_failures = 0;

const char kDownloading[] = "\n[data\\map01.pak] 파일을 다운로드 중입니다.";

class ShotApp : public CULPatchwellApp {
 public:
  ShotApp() { LendConfig(&config); }
  UpdateConfig config;
};

void Check(bool ok, const char* what) {
  std::printf("%s: %s\n", ok ? "ok" : "FAILED", what);
  std::fflush(stdout);
  if (!ok) ++g_failures;
}

std::string SignalPath(const char* name) { return g_signal + "/" + name; }

bool FileExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

struct Find {
  HWND ignore;
  HWND found;
};

BOOL CALLBACK Visit(HWND hwnd, LPARAM lp) {
  Find* f = reinterpret_cast<Find*>(lp);
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  char cls[32] = {0};
  GetClassNameA(hwnd, cls, sizeof(cls));
  if (pid == GetCurrentProcessId() && hwnd != f->ignore && IsWindowVisible(hwnd) &&
      std::string(cls) == "#32770") {
    f->found = hwnd;
    return FALSE;
  }
  return TRUE;
}

// Waits up to 10 s for a visible dialog window of this process.
HWND WaitForWindow(HWND ignore = nullptr) {
  for (int i = 0; i < 500; ++i) {
    Find f{ignore, nullptr};
    EnumWindows(Visit, reinterpret_cast<LPARAM>(&f));
    if (f.found != nullptr) return f.found;
    Sleep(20);
  }
  return nullptr;
}

// Tells the script where the window is (window rectangle, then the client
// area's origin), then waits until it has taken its screenshot.
void HandOver(HWND window) {
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  RECT r;
  GetWindowRect(window, &r);
  POINT origin = {0, 0};
  ClientToScreen(window, &origin);
  std::string tmp = SignalPath("ready.tmp");
  FILE* f = std::fopen(tmp.c_str(), "wb");
  if (f != nullptr) {
    std::fprintf(f, "%ld %ld %ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top,
                 origin.x, origin.y);
    std::fclose(f);
  }
  MoveFileA(tmp.c_str(), SignalPath("ready").c_str());
  for (int i = 0; i < 600 && !FileExists(SignalPath("done")); ++i) Sleep(50);
}

std::string ControlText(HWND dialog, int id) {
  char text[512] = {0};
  GetDlgItemTextA(dialog, id, text, sizeof(text));
  return text;
}

// Polls for up to three seconds; a loaded machine may be slow to tick.
template <typename Pred>
bool WaitFor(Pred pred) {
  for (int i = 0; i < 150; ++i) {
    if (pred()) return true;
    Sleep(20);
  }
  return pred();
}

// The progress dialog: what the timer shows, then the end of a run.
void WatchProgress(bool about) {
  HWND dialog = WaitForWindow();
  if (dialog == nullptr) {
    Check(false, "progress dialog appeared");
    return;
  }
  Sleep(1200);  // several status ticks and animation frames
  Check(WaitFor([&] { return ControlText(dialog, IDC_STATUS_TEXT) == kDownloading; }),
        "status control shows the status text");
  Check(SendMessageA(GetDlgItem(dialog, IDC_FILE_PROGRESS), PBM_GETPOS, 0, 0) == 20,
        "per-file bar at its position");
  Check(SendMessageA(GetDlgItem(dialog, IDC_TOTAL_PROGRESS), PBM_GETPOS, 0, 0) == 52,
        "total bar at its position");

  if (about) {
    PostMessageA(dialog, WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
    HWND box = WaitForWindow(dialog);
    Check(box != nullptr, "about box opened from the system menu");
    if (box != nullptr) {
      Sleep(500);
      HandOver(box);
      PostMessageA(box, WM_COMMAND, IDOK, 0);
      for (int i = 0; i < 100 && IsWindow(box); ++i) Sleep(20);
    }
    // The run goes on behind the about box.
    GetTheApp()->SetStatusText("\n울메에 접속중입니다...");
    Check(WaitFor([&] { return ControlText(dialog, IDC_STATUS_TEXT) == "\n울메에 접속중입니다..."; }),
          "status still refreshed after the about box");
    PostMessageA(dialog, WM_CLOSE, 0, 0);
    return;
  }

  HandOver(dialog);

  // The worker's end: timer 1 notices it within a tick or two, stops and
  // launches once.
  GetTheApp()->SetStatusText("프로그램 업데이트가 완료되었습니다.\n울메를 실행합니다.");
  GetConfig()->updateFinished = 1;
  Check(WaitFor([] { return g_launchCalls.load() > 0; }), "launch step called after the worker's end");
  Sleep(300);
  Check(g_launchCalls.load() == 1, "launch step called once");
  Check(ControlText(dialog, IDC_STATUS_TEXT) ==
            "프로그램 업데이트가 완료되었습니다.\n울메를 실행합니다.",
        "last status shown");
  GetTheApp()->SetStatusText("late");
  Sleep(500);
  Check(g_launchCalls.load() == 1, "no second launch: timer 1 stopped");
  Check(ControlText(dialog, IDC_STATUS_TEXT) != "late", "no refresh after timer 1 stopped");
  PostMessageA(dialog, WM_CLOSE, 0, 0);
}

void WatchBox(const char* expectedText) {
  HWND box = WaitForWindow();
  if (box == nullptr) {
    Check(false, "message box appeared");
    return;
  }
  Sleep(500);
  wchar_t text[1024] = {0};
  GetWindowTextW(box, text, 1024);
  char narrow[2048] = {0};
  WideCharToMultiByte(CP_ACP, 0, text, -1, narrow, sizeof(narrow), nullptr, nullptr);
  Check(std::string(narrow) == expectedText, "box window text is caption and message");
  HandOver(box);
  PostMessageA(box, WM_CLOSE, 0, 0);
}

struct BoxScene {
  const char* name;
  int type;
  const char* text;
  int flags;
  int help;
  const char* caption;
};

const BoxScene kBoxes[] = {
    {"info", 1, "울메 설치를 시작합니다.(#1)", 0, 0, "정보"},
    {"error", 3,
     "잘못된 실행정보로 실행 되었습니다.\n울메 홈페이지에서 다시 실행해 주시기 바랍니다.", 0, 4,
     "오류"},
    {"question", 2, "울메가 새로운 버전으로 업데이트 되었습니다.\n지금 다시 시작하시겠습니까?", 0, 0,
     "확인"},
    {"warning", 4, "이전 버전의 울메를 제거합니다.\n사용자 설정은 새 버전으로 옮겨집니다.", 0, 0,
     "경고"},
    {"long", 3,
     "[data\\sound\\bgm_field_spring_theme_long_name_01.ogg] 파일을 다운로드 도중 오류가 "
     "발생하였습니다. 네트워크 연결 상태를 확인하신 후 잠시 후 다시 실행해 보시기 바랍니다. "
     "문제가 계속되면 모든 인터넷 창을 종료한 후, 업데이트를 실행해주세요.",
     0, 2, "오류"},
    {"check", 1, "이전 버전의 사용자 데이터를 새 버전으로 옮겼습니다.", 1, 0, "정보"},
};

}  // namespace

// The sequence and the launch step are replaced here: the real ones reach
// servers and start programs. The dialog around them is the real one.
void CULPatchwellDlg::RunUpdateSequence() {
  GetTheApp()->SetStatusText(kDownloading);
  SendMessageA(PerFileBar(), PBM_SETPOS, 20, 0);
  SendMessageA(TotalBar(), PBM_SETRANGE, 0, MAKELPARAM(0, 32 * 3));
  SendMessageA(TotalBar(), PBM_SETPOS, 52, 0);
}

bool CULPatchwellDlg::LaunchProgram() {
  g_launchCalls.fetch_add(1);
  return true;
}

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: ui_shots <signal folder> <scene>\n");
    return 2;
  }
  g_signal = argv[1];
  const std::string scene = argv[2];
  INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&icc);
  ShotApp app;

  if (scene == "progress" || scene == "about") {
    std::thread watcher(WatchProgress, scene == "about");
    CULPatchwellDlg dialog;
    INT_PTR r = dialog.DoModal();
    watcher.join();
    Check(r != -1, "progress dialog created");
    return g_failures == 0 ? 0 : 1;
  }
  for (const BoxScene& b : kBoxes) {
    if (scene != b.name) continue;
    std::string expected = std::string(b.caption) + "\n" + b.text;
    std::thread watcher(WatchBox, expected.c_str());
    CGeneralMsgDlg box;
    box.SetMessage(b.type, b.text, b.flags);
    if (b.help != 0) box.SetHelpLink(b.help);
    INT_PTR r = box.DoModal();
    watcher.join();
    Check(r == 2, "box closed with result 2");
    return g_failures == 0 ? 0 : 1;
  }
  std::fprintf(stderr, "ui_shots: no scene %s\n", scene.c_str());
  return 2;
}
