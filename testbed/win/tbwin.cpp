#include "tbwin.h"

#include <cstdio>

namespace tbw {

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string out(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr,
                      nullptr);
  return out;
}

std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return std::wstring();
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(n, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &out[0], n);
  return out;
}

std::string AnsiToUtf8(const std::string& ansi) {
  if (ansi.empty()) return std::string();
  int n = MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
  std::wstring w(n, L'\0');
  MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), &w[0], n);
  return Utf8(w);
}

std::string Hex(const std::string& bytes) {
  std::string out;
  char buf[4];
  for (unsigned char c : bytes) {
    std::snprintf(buf, sizeof buf, "%02x", c);
    out += buf;
  }
  return out;
}

std::wstring ModulePath() {
  wchar_t buf[MAX_PATH * 2] = {0};
  GetModuleFileNameW(nullptr, buf, MAX_PATH * 2 - 1);
  return buf;
}

std::wstring FileNameOf(const std::wstring& path) {
  size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

std::wstring FolderOf(const std::wstring& path) {
  size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring(L".") : path.substr(0, slash);
}

std::wstring CurrentDirectory() {
  wchar_t buf[MAX_PATH * 2] = {0};
  GetCurrentDirectoryW(MAX_PATH * 2 - 1, buf);
  return buf;
}

std::wstring WindowText(HWND hwnd) {
  int n = GetWindowTextLengthW(hwnd);
  std::wstring text(n + 1, L'\0');
  n = GetWindowTextW(hwnd, &text[0], n + 1);
  text.resize(n > 0 ? n : 0);
  return text;
}

std::wstring ClassName(HWND hwnd) {
  wchar_t buf[256] = {0};
  GetClassNameW(hwnd, buf, 255);
  return buf;
}

long long NowMs() {
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  ULARGE_INTEGER t;
  t.LowPart = ft.dwLowDateTime;
  t.HighPart = ft.dwHighDateTime;
  // 100 ns ticks since 1601 to milliseconds since 1970.
  return static_cast<long long>(t.QuadPart / 10000ULL) - 11644473600000LL;
}

std::wstring LogFolder() {
  wchar_t buf[MAX_PATH * 2] = {0};
  DWORD n = GetEnvironmentVariableW(L"ULMET_TESTBED_LOG", buf, MAX_PATH * 2 - 1);
  if (n > 0 && n < MAX_PATH * 2 - 1) return buf;
  return FolderOf(ModulePath());
}

bool AppendLog(const wchar_t* file, tb::JsonRecord record) {
  std::wstring path = LogFolder() + L"\\" + file;
  record.Add("program", Utf8(FileNameOf(ModulePath())))
      .Add("pid", static_cast<long long>(GetCurrentProcessId()))
      .Add("time_ms", NowMs());
  std::string line = record.Line() + "\n";
  // Several stand-ins may write at once: retry while another one holds the
  // file, and write each record in one call at the end of the file.
  for (int attempt = 0; attempt < 50; ++attempt) {
    HANDLE h = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      Sleep(20);
      continue;
    }
    DWORD written = 0;
    BOOL ok = WriteFile(h, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(h);
    return ok && written == line.size();
  }
  return false;
}

}  // namespace tbw
