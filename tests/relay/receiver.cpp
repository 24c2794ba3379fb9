// Stands in for the client's main window: a top-level window (titled
// "Ulmet" unless told otherwise) that takes message 1224, reads the text of
// the atom in wParam, deletes the atom and appends what it saw to a log.
//
//   relay_receiver LOG STOPFILE [TITLE]
// The log is created once the window exists. The program ends when STOPFILE
// appears (or after two minutes).
#include <windows.h>

#include <cstdio>

namespace {

const UINT kRelayMessage = WM_USER + 200;
const char* g_log = nullptr;
const char* g_stop = nullptr;
DWORD g_started = 0;

void Log(const char* line, int length) {
  FILE* f = fopen(g_log, "ab");
  if (!f) return;
  fwrite(line, 1, length, f);
  fclose(f);
}

LRESULT CALLBACK WindowProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == kRelayMessage) {
    const ATOM atom = static_cast<ATOM>(wp);
    char text[1100] = "";
    const UINT length = atom ? GlobalGetAtomNameA(atom, text, 1024) : 0;
    int deleted = 0, gone = 0;
    if (atom) {
      deleted = GlobalDeleteAtom(atom) == 0;
      char again[8];
      gone = GlobalGetAtomNameA(atom, again, sizeof again) == 0;
    }
    char head[128];
    const int n = snprintf(head, sizeof head, "msg wparam=%s lparam=%ld len=%u deleted=%d gone=%d text=",
                           atom ? "atom" : "0", static_cast<long>(lp), length, deleted, gone);
    char line[1300];
    memcpy(line, head, n);
    memcpy(line + n, text, length);
    line[n + length] = '\n';
    Log(line, n + static_cast<int>(length) + 1);
    return 0;
  }
  if (msg == WM_TIMER) {
    if (GetFileAttributesA(g_stop) != INVALID_FILE_ATTRIBUTES || GetTickCount() - g_started > 120000) {
      DestroyWindow(wnd);
    }
    return 0;
  }
  if (msg == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcA(wnd, msg, wp, lp);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  g_log = argv[1];
  g_stop = argv[2];
  const char* title = argc > 3 ? argv[3] : "Ulmet";
  g_started = GetTickCount();

  WNDCLASSA wc = {};
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "UlmetRelayReceiver";
  if (!RegisterClassA(&wc)) return 3;
  HWND wnd = CreateWindowA(wc.lpszClassName, title, WS_OVERLAPPEDWINDOW, 10, 10, 200, 100, nullptr, nullptr,
                           wc.hInstance, nullptr);
  if (!wnd) return 4;
  SetTimer(wnd, 1, 50, nullptr);
  FILE* f = fopen(g_log, "wb");  // tells the test that the window exists
  if (!f) return 5;
  fclose(f);

  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return 0;
}
