// Substitute client, built as UlmetMain.exe. The same program stands in for
// the full installer, "Update3.exe" and an earlier version's
// "uninstall.exe": whatever its name, it records its start (command line
// exactly as received, current directory, own path) in starts.jsonl. Only
// under the client's own name does it then behave as the client:
//  - a top-level window titled "Ulmet";
//  - message 1224: reads the global atom's text, deletes the atom and
//    records both in messages.jsonl;
//  - "Running" = "1" under "Software\ULMET\Main" while it runs ("0" when it
//    ends), in HKEY_LOCAL_MACHINE, or HKEY_CURRENT_USER on Vista, where the
//    page relay component looks;
//  - it ends on WM_CLOSE ("tbctl quit" sends that to every stand-in).
// Any other name ends right after the record, like an installer that has
// nothing to do.
#include <windows.h>

#include <string>

#include "tbwin.h"

namespace {

constexpr UINT kForwardedMessage = WM_USER + 200;  // 1224
constexpr wchar_t kRunningKey[] = L"Software\\ULMET\\Main";
std::wstring g_lastText = L"(no message yet)";

HKEY RunningHive() {
  wchar_t product[256] = {0};
  DWORD size = sizeof(product) - sizeof(wchar_t);
  HKEY key;
  HKEY hive = HKEY_LOCAL_MACHINE;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", 0,
                    KEY_READ, &key) == ERROR_SUCCESS) {
    if (RegQueryValueExW(key, L"ProductName", nullptr, nullptr, reinterpret_cast<BYTE*>(product),
                         &size) == ERROR_SUCCESS) {
      std::wstring name(product);
      CharUpperW(&name[0]);
      if (name.find(L"VISTA") != std::wstring::npos) hive = HKEY_CURRENT_USER;
    }
    RegCloseKey(key);
  }
  return hive;
}

void SetRunning(const wchar_t* value) {
  HKEY key;
  if (RegCreateKeyExW(RunningHive(), kRunningKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                      nullptr, &key, nullptr) != ERROR_SUCCESS) {
    tbw::AppendLog(L"client.jsonl", tb::JsonRecord().Add("event", "running-mark-failed"));
    return;
  }
  RegSetValueExW(key, L"Running", 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                 static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
}

void OnForwarded(HWND hwnd, WPARAM wParam) {
  ATOM atom = static_cast<ATOM>(wParam);
  char text[512] = {0};
  UINT n = GlobalGetAtomNameA(atom, text, 256);
  std::string ansi(text, n);
  // The sender leaves the atom to us; deleting it is part of the contract.
  SetLastError(0);
  ATOM left = GlobalDeleteAtom(atom);
  tbw::AppendLog(L"messages.jsonl",
                 tb::JsonRecord()
                     .Add("atom", static_cast<long long>(atom))
                     .Add("text", tbw::AnsiToUtf8(ansi))
                     .Add("text_hex", tbw::Hex(ansi))
                     .Add("read", n > 0 ? 1 : 0)
                     .Add("deleted", left == 0 ? 1 : 0));
  g_lastText = tbw::Wide(tbw::AnsiToUtf8(ansi));
  InvalidateRect(hwnd, nullptr, TRUE);
}

LRESULT CALLBACK ClientProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case kForwardedMessage:
      OnForwarded(hwnd, wParam);
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd, &ps);
      RECT r;
      GetClientRect(hwnd, &r);
      InflateRect(&r, -8, -8);
      std::wstring text = L"Ulmet test client\n" + g_lastText;
      DrawTextW(dc, text.c_str(), -1, &r, DT_LEFT | DT_WORDBREAK);
      EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int show) {
  std::wstring self = tbw::ModulePath();
  tbw::AppendLog(L"starts.jsonl", tb::JsonRecord()
                                      .Add("command_line", tbw::Utf8(GetCommandLineW()))
                                      .Add("command_line_ansi_hex", tbw::Hex(GetCommandLineA()))
                                      .Add("cwd", tbw::Utf8(tbw::CurrentDirectory()))
                                      .Add("path", tbw::Utf8(self)));
  if (lstrcmpiW(tbw::FileNameOf(self).c_str(), L"UlmetMain.exe") != 0) return 0;

  WNDCLASSW wc = {};
  wc.lpfnWndProc = ClientProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = L"UlmetTestbedClient";
  RegisterClassW(&wc);
  HWND hwnd = CreateWindowW(wc.lpszClassName, L"Ulmet", WS_OVERLAPPEDWINDOW, 620, 20, 380, 160,
                            nullptr, nullptr, instance, nullptr);
  if (!hwnd) return 1;
  SetRunning(L"1");
  ShowWindow(hwnd, show == SW_HIDE ? SW_SHOWNORMAL : show);
  UpdateWindow(hwnd);
  tbw::AppendLog(L"client.jsonl", tb::JsonRecord().Add("event", "window"));

  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  SetRunning(L"0");
  tbw::AppendLog(L"client.jsonl", tb::JsonRecord().Add("event", "ended"));
  return 0;
}
