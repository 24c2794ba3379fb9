// Console helper that acts from another Wine process, as a page or the user
// would:
//   tbctl post TITLE TEXT     post message 1224 with a new global atom holding
//                             TEXT (in the ANSI code page) to the window TITLE;
//                             prints the atom; exit 1 when no such window
//   tbctl atom TEXT           exit 0 when a global atom named TEXT exists
//   tbctl wait TITLE MS       wait up to MS for a window titled TITLE
//   tbctl quit [MS]           close every test bed window (WM_CLOSE) and wait
//                             up to MS (default 5000) until they are gone
//   tbctl msgbox CAPTION TEXT show a system message box (OK, Cancel); prints
//                             the button that closed it (1 or 2)
//   tbctl dialog TEXT         show a dialog shaped like the updater's box
//                             (buttons 1176 and 1177, TEXT as window text);
//                             prints the button that closed it
//   tbctl hold FILE MS        open FILE for reading without FILE_SHARE_DELETE,
//                             print "held" and keep it open for MS (or until
//                             killed): it can then be neither renamed nor
//                             deleted, as when another program has it loaded
//   tbctl probe TITLE MS [CLOSE_MS]
//                             every 100 ms for up to MS: send WM_NULL to the
//                             window TITLE (hidden or not) with a time-out of
//                             5 s and print "answer <ms>" with how long the
//                             answer took ("answer none" when it timed out);
//                             ends when the window is gone after it was seen.
//                             With CLOSE_MS: posts WM_CLOSE to it once, CLOSE_MS
//                             after it was first seen, and prints "closed"
// The msgbox and dialog commands let the answerer be tested without the updater.
#include <windows.h>

#include <cstdio>
#include <string>

#include "tbwin.h"

namespace {

std::string ToAnsi(const std::wstring& w) {
  int n = WideCharToMultiByte(CP_ACP, 0, w.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? n - 1 : 0, '\0');
  if (n > 1) WideCharToMultiByte(CP_ACP, 0, w.c_str(), -1, &out[0], n, nullptr, nullptr);
  return out;
}

BOOL CALLBACK CollectOwn(HWND hwnd, LPARAM param) {
  std::wstring cls = tbw::ClassName(hwnd);
  if (cls.compare(0, wcslen(tbw::kClassPrefix), tbw::kClassPrefix) == 0) {
    ++*reinterpret_cast<int*>(param);
    PostMessageW(hwnd, WM_CLOSE, 0, 0);
  }
  return TRUE;
}

int Quit(int waitMs) {
  for (int waited = 0;; waited += 100) {
    int count = 0;
    EnumWindows(CollectOwn, reinterpret_cast<LPARAM>(&count));
    if (count == 0) return 0;
    if (waited >= waitMs) {
      std::fprintf(stderr, "tbctl: %d window(s) still open\n", count);
      return 1;
    }
    Sleep(100);
  }
}

INT_PTR CALLBACK BoxProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_INITDIALOG) {
    SetWindowTextW(hwnd, reinterpret_cast<const wchar_t*>(lParam));
    return TRUE;
  }
  if (msg == WM_COMMAND) {
    int id = LOWORD(wParam);
    if (id == 1176 || id == 1177 || id == IDCANCEL) EndDialog(hwnd, id);
    return TRUE;
  }
  return FALSE;
}

// A template in memory: a pop-up dialog with two push buttons 1176 and 1177.
INT_PTR ProductLikeBox(const std::wstring& text) {
  alignas(4) WORD buf[256] = {0};
  WORD* p = buf;
  auto* dlg = reinterpret_cast<DLGTEMPLATE*>(p);
  dlg->style = WS_POPUP | WS_VISIBLE | DS_MODALFRAME | DS_CENTER;
  dlg->cdit = 2;
  dlg->cx = 200;
  dlg->cy = 80;
  p = reinterpret_cast<WORD*>(dlg + 1);
  *p++ = 0;  // no menu
  *p++ = 0;  // standard dialog class
  *p++ = 0;  // no title
  const wchar_t* labels[2] = {L"OK", L"Cancel"};
  for (int i = 0; i < 2; ++i) {
    p = reinterpret_cast<WORD*>((reinterpret_cast<ULONG_PTR>(p) + 3) & ~ULONG_PTR(3));
    auto* item = reinterpret_cast<DLGITEMTEMPLATE*>(p);
    item->style = WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON;
    item->x = static_cast<short>(20 + 90 * i);
    item->y = 50;
    item->cx = 70;
    item->cy = 14;
    item->id = static_cast<WORD>(1176 + i);
    p = reinterpret_cast<WORD*>(item + 1);
    *p++ = 0xFFFF;
    *p++ = 0x0080;  // button
    for (const wchar_t* c = labels[i]; *c; ++c) *p++ = *c;
    *p++ = 0;
    *p++ = 0;  // no creation data
  }
  return DialogBoxIndirectParamW(GetModuleHandleW(nullptr), reinterpret_cast<DLGTEMPLATE*>(buf),
                                 nullptr, BoxProc, reinterpret_cast<LPARAM>(text.c_str()));
}

// Whether the user-interface thread that owns the window handles its
// messages: a window that answers nothing for 5 s counts as hung on Windows.
int Probe(const wchar_t* title, DWORD limitMs, DWORD closeMs) {
  LARGE_INTEGER freq;
  QueryPerformanceFrequency(&freq);
  const DWORD start = GetTickCount();
  DWORD firstSeen = 0;
  bool seen = false, closed = false;
  int probes = 0;
  double slowest = 0;
  while (GetTickCount() - start < limitMs) {
    HWND hwnd = FindWindowW(nullptr, title);
    if (hwnd == nullptr) {
      if (seen) break;
      Sleep(20);
      continue;
    }
    if (!seen) firstSeen = GetTickCount();
    seen = true;
    LARGE_INTEGER a, b;
    DWORD_PTR result = 0;
    QueryPerformanceCounter(&a);
    const LRESULT ok = SendMessageTimeoutW(hwnd, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &result);
    QueryPerformanceCounter(&b);
    const double ms = 1000.0 * static_cast<double>(b.QuadPart - a.QuadPart) / static_cast<double>(freq.QuadPart);
    if (ok != 0) {
      std::printf("answer %.1f\n", ms);
      if (ms > slowest) slowest = ms;
    } else if (IsWindow(hwnd)) {
      std::printf("answer none\n");
      slowest = 5000;
    }
    ++probes;
    if (closeMs > 0 && !closed && GetTickCount() - firstSeen >= closeMs) {
      PostMessageW(hwnd, WM_CLOSE, 0, 0);
      std::printf("closed\n");
      closed = true;
    }
    std::fflush(stdout);
    const DWORD spent = static_cast<DWORD>(ms);
    if (spent < 100) Sleep(100 - spent);
  }
  std::printf("probes %d slowest_ms %.1f\n", probes, slowest);
  return seen ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::wstring cmd = argc > 1 ? argv[1] : L"";
  if (cmd == L"post" && argc == 4) {
    HWND hwnd = FindWindowW(nullptr, argv[2]);
    if (!hwnd) {
      std::fprintf(stderr, "tbctl: no window titled %s\n", tbw::Utf8(argv[2]).c_str());
      return 1;
    }
    ATOM atom = GlobalAddAtomA(ToAnsi(argv[3]).c_str());
    PostMessageA(hwnd, WM_USER + 200, atom, 0);
    std::printf("%u\n", atom);
    return atom ? 0 : 2;
  }
  if (cmd == L"atom" && argc == 3) return GlobalFindAtomA(ToAnsi(argv[2]).c_str()) ? 0 : 1;
  if (cmd == L"wait" && argc == 4) {
    int ms = _wtoi(argv[3]);
    for (int waited = 0; waited <= ms; waited += 50) {
      if (FindWindowW(nullptr, argv[2])) return 0;
      Sleep(50);
    }
    return 1;
  }
  if (cmd == L"msgbox" && argc == 4) {
    std::printf("%d\n", MessageBoxW(nullptr, argv[3], argv[2], MB_OKCANCEL | MB_ICONINFORMATION));
    return 0;
  }
  if (cmd == L"dialog" && argc == 3) {
    std::printf("%d\n", static_cast<int>(ProductLikeBox(argv[2])));
    return 0;
  }
  if (cmd == L"probe" && (argc == 4 || argc == 5))
    return Probe(argv[2], static_cast<DWORD>(_wtoi(argv[3])), argc == 5 ? static_cast<DWORD>(_wtoi(argv[4])) : 0);
  if (cmd == L"quit") return Quit(argc > 2 ? _wtoi(argv[2]) : 5000);
  if (cmd == L"hold" && argc == 4) {
    HANDLE h = CreateFileW(argv[2], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      std::fprintf(stderr, "tbctl: cannot open %s (%lu)\n", tbw::Utf8(argv[2]).c_str(), GetLastError());
      return 1;
    }
    std::printf("held\n");
    std::fflush(stdout);
    Sleep(static_cast<DWORD>(_wtoi(argv[3])));
    CloseHandle(h);
    return 0;
  }
  std::fprintf(stderr, "usage: tbctl post TITLE TEXT | atom TEXT | wait TITLE MS | quit [MS] |\n"
                       "             msgbox CAPTION TEXT | dialog TEXT | hold FILE MS | probe TITLE MS [CLOSE_MS]\n");
  return 2;
}
