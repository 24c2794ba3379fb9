// Watches for message boxes of any process, writes down what each one says
// (UTF-8, one line per box) and presses its OK button.
//
//   relay_watcher LOG STOPFILE
// The log is created at start. The program ends when STOPFILE appears (or
// after two minutes).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
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

// Which standard icon a box shows. The box's icon handle belongs to another
// process, so the control is read back from the screen and compared with
// each standard icon drawn here on the same background.
std::vector<COLORREF> Capture(HDC src, int left, int top, int w, int h) {
  std::vector<COLORREF> px;
  HDC mem = CreateCompatibleDC(src);
  HBITMAP bm = CreateCompatibleBitmap(src, w, h);
  HGDIOBJ old = SelectObject(mem, bm);
  BitBlt(mem, 0, 0, w, h, src, left, top, SRCCOPY);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) px.push_back(GetPixel(mem, x, y));
  SelectObject(mem, old);
  DeleteObject(bm);
  DeleteDC(mem);
  return px;
}

// Equal but for small differences in how the edges are blended.
bool Near(COLORREF a, COLORREF b) {
  return abs(GetRValue(a) - GetRValue(b)) <= 24 && abs(GetGValue(a) - GetGValue(b)) <= 24 &&
         abs(GetBValue(a) - GetBValue(b)) <= 24;
}

const char* IconName(HWND control) {
  if (!control) return "none";
  RECT r;
  GetClientRect(control, &r);
  const int w = GetSystemMetrics(SM_CXICON), h = GetSystemMetrics(SM_CYICON);
  if (r.right < w || r.bottom < h) return "small";
  POINT at = {0, 0};
  ClientToScreen(control, &at);
  HDC dc = GetDC(nullptr);
  const std::vector<COLORREF> shown = Capture(dc, at.x, at.y, w, h);
  const COLORREF background = shown[0];
  struct Known {
    LPCSTR id;
    const char* name;
  };
  const Known known[] = {{IDI_EXCLAMATION, "exclamation"}, {IDI_HAND, "hand"},
                         {IDI_ASTERISK, "asterisk"},       {IDI_QUESTION, "question"}};
  const char* name = "other";
  for (const Known& k : known) {
    HDC mem = CreateCompatibleDC(dc);
    HBITMAP bm = CreateCompatibleBitmap(dc, w, h);
    HGDIOBJ old = SelectObject(mem, bm);
    HBRUSH brush = CreateSolidBrush(background);
    RECT all = {0, 0, w, h};
    FillRect(mem, &all, brush);
    DeleteObject(brush);
    DrawIconEx(mem, 0, 0, LoadIconA(nullptr, k.id), w, h, 0, nullptr, DI_NORMAL);
    const std::vector<COLORREF> drawn = Capture(mem, 0, 0, w, h);
    SelectObject(mem, old);
    DeleteObject(bm);
    DeleteDC(mem);
    bool same = drawn.size() == shown.size();
    for (size_t i = 0; same && i < drawn.size(); ++i) same = Near(drawn[i], shown[i]);
    if (same) {
      name = k.name;
      break;
    }
  }
  ReleaseDC(nullptr, dc);
  return name;
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
  // The icon is read from the screen: give the box time to be painted.
  const char* iconName = IconName(GetDlgItem(box, 0x440));
  for (int i = 0; i < 20 && lstrcmpA(iconName, "other") == 0; ++i) {
    Sleep(100);
    iconName = IconName(GetDlgItem(box, 0x440));
  }
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
