// Watches for message boxes of any process, writes down what each one says
// (UTF-8, one line per box) and presses its OK button.
//
//   relay_watcher LOG STOPFILE
// The log is created at start. The program ends when STOPFILE appears (or
// after two minutes).
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::vector<HWND> g_seen;
std::vector<HWND> g_found;

std::string Utf8(const wchar_t* w) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, w, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return std::string();
  std::string s(n - 1, '\0');
  WideCharToMultiByte(CP_UTF8, 0, w, -1, &s[0], n, nullptr, nullptr);
  return s;
}

std::string TextOf(HWND wnd) {
  wchar_t buf[1024] = L"";
  GetWindowTextW(wnd, buf, 1024);
  return Utf8(buf);
}

BOOL CALLBACK CollectBox(HWND wnd, LPARAM) {
  char cls[64] = "";
  GetClassNameA(wnd, cls, sizeof cls);
  if (lstrcmpA(cls, "#32770") == 0 && IsWindowVisible(wnd)) g_found.push_back(wnd);
  return TRUE;
}

int g_buttons = 0;
BOOL CALLBACK CountButton(HWND wnd, LPARAM) {
  char cls[64] = "";
  GetClassNameA(wnd, cls, sizeof cls);
  if (lstrcmpiA(cls, "Button") == 0) ++g_buttons;
  return TRUE;
}

void Describe(HWND box, FILE* log) {
  // The message text is the box's static control 0xFFFF; its icon is the
  // static control 0x440.
  std::string text = TextOf(GetDlgItem(box, 0xFFFF));
  g_buttons = 0;
  EnumChildWindows(box, CountButton, 0);
  HICON icon = reinterpret_cast<HICON>(SendDlgItemMessageA(box, 0x440, STM_GETICON, 0, 0));
  const char* iconName = !icon                                         ? "none"
                         : icon == LoadIconA(nullptr, IDI_EXCLAMATION) ? "exclamation"
                         : icon == LoadIconA(nullptr, IDI_HAND)        ? "hand"
                         : icon == LoadIconA(nullptr, IDI_ASTERISK)    ? "asterisk"
                         : icon == LoadIconA(nullptr, IDI_QUESTION)    ? "question"
                                                                       : "other";
  fprintf(log, "box title=%s text=%s buttons=%d ok=%d icon=%s\n", TextOf(box).c_str(), text.c_str(), g_buttons,
          GetDlgItem(box, IDOK) != nullptr, iconName);
  fflush(log);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  FILE* log = fopen(argv[1], "wb");
  if (!log) return 3;
  const DWORD started = GetTickCount();
  while (GetFileAttributesA(argv[2]) == INVALID_FILE_ATTRIBUTES && GetTickCount() - started < 120000) {
    g_found.clear();
    EnumWindows(CollectBox, 0);
    for (HWND box : g_found) {
      bool known = false;
      for (HWND s : g_seen) known = known || s == box;
      if (known) continue;
      Sleep(100);  // let the box finish drawing its controls
      Describe(box, log);
      g_seen.push_back(box);
      PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                   reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
    }
    Sleep(50);
  }
  fclose(log);
  return 0;
}
