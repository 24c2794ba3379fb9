// Windows: the system's names are UTF-16, and so are the tree's; the
// updater's code page 949 appears only in the text of the lists.
#include <windows.h>

#include <sys/stat.h>
#include <sys/types.h>

#include "system/disk_names.h"

namespace ulp {

namespace {

constexpr UINT kServerCodePage = 949;

bool Widen(UINT codePage, const std::string& text, std::wstring* wide) {
  wide->clear();
  if (text.empty()) return true;
  const int n = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                                    nullptr, 0);
  if (n <= 0) return false;
  wide->resize(static_cast<size_t>(n));
  return MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                             &(*wide)[0], n) == n;
}

// Only an exact form counts: no best-fit letters, no default character.
bool Narrow(UINT codePage, const std::wstring& wide, std::string* text) {
  text->clear();
  if (wide.empty()) return true;
  BOOL usedDefault = FALSE;
  BOOL* askDefault = codePage == CP_UTF8 ? nullptr : &usedDefault;
  const DWORD flags = codePage == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
  const int n = WideCharToMultiByte(codePage, flags, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                    nullptr, askDefault);
  if (n <= 0 || usedDefault) return false;
  text->resize(static_cast<size_t>(n));
  return WideCharToMultiByte(codePage, flags, wide.data(), static_cast<int>(wide.size()), &(*text)[0], n,
                             nullptr, askDefault) == n &&
         !usedDefault;
}

std::wstring WideOr(UINT codePage, const std::string& text) {
  std::wstring wide;
  if (!Widen(codePage, text, &wide)) wide.assign(text.begin(), text.end());
  return wide;
}

}  // namespace

bool Utf8ToCp949(const std::string& utf8, std::string* cp949) {
  std::wstring wide;
  return Widen(CP_UTF8, utf8, &wide) && Narrow(kServerCodePage, wide, cp949);
}

bool ClientName(const fs::path& relative, std::string* cp949) {
  return Narrow(kServerCodePage, relative.generic_wstring(), cp949);
}

fs::path TreePath(const fs::path& root, const std::string& cp949) {
  return root / fs::path(WideOr(kServerCodePage, cp949));
}

fs::path ArgPath(const char* arg) { return fs::path(WideOr(CP_ACP, arg)); }

bool ArgName(const char* arg, std::string* cp949) {
  std::wstring wide;
  return Widen(CP_ACP, arg, &wide) && Narrow(kServerCodePage, wide, cp949);
}

std::string Shown(const std::string& cp949) {
  std::string shown;
  return Narrow(CP_ACP, WideOr(kServerCodePage, cp949), &shown) ? shown : cp949;
}

std::string Shown(const fs::path& path) {
  std::string shown;
  return Narrow(CP_ACP, path.wstring(), &shown) ? shown : path.string();
}

bool NarrowPath(const fs::path& path, std::string* narrow) { return Narrow(CP_ACP, path.wstring(), narrow); }

bool IsLink(const fs::path& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool LocalModifiedTime(const fs::path& path, std::tm* local) {
  struct _stat64 st;
  if (_wstat64(path.c_str(), &st) != 0) return false;
  __time64_t t = st.st_mtime;
  return _localtime64_s(local, &t) == 0;
}

OwnedFile OpenFile(const fs::path& path, const char* mode) {
  return OwnedFile(_wfopen(path.c_str(), WideOr(CP_ACP, mode).c_str()));
}

}  // namespace ulp
