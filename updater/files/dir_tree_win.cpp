#include "files/dir_tree_win.h"

#include <windows.h>

#include <direct.h>
#include <io.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "formats/base/bounded.h"
#include "formats/base/owned_win.h"
#include "common/trace.h"

namespace {

// Longest path that the ANSI file functions take (MAX_PATH less the
// terminator). Paths are composed in larger buffers and refused when longer,
// so that a cut path never names some other folder.
constexpr std::size_t kMaxPathLen = 259;

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsFolder(const char* path) {
  DWORD a = GetFileAttributesA(path);
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

int MakeDirectoryPath(const char* path) {
  if (path == nullptr || path[0] == '\0') return 0;
  char copy[ul::kTextCap];
  std::size_t n = ul::Copy(copy, path);
  if (n > 0 && copy[n - 1] == '/') copy[--n] = '\0';
  if (n == 0) return 0;
  if (_mkdir(copy) == 0) return 1;

  for (std::size_t i = 1; i <= n; ++i) {
    if (i < n && !IsSeparator(copy[i])) continue;
    char saved = copy[i];
    copy[i] = '\0';
    if (!IsFolder(copy) && _mkdir(copy) != 0) {
      int err = errno;
      DebugTrace("errno : %d", err);
      std::printf("couldn't create directory %s\n", copy);
      return 0;
    }
    copy[i] = saved;
  }
  return 1;
}

int CreateFolderTree(const char* path) {
  if (path == nullptr || path[0] == '\0') return 0;
  if (_access(path, 0) == 0) return 1;
  const std::size_t len = std::strlen(path);
  if (len > kMaxPathLen) return 0;

  char buffer[kMaxPathLen + 1];
  ul::Copy(buffer, path);
  std::size_t end = len;  // buffer holds path[0, end)
  // Each missing level costs one failed attempt on the way up and one
  // creation on the way down: ten attempts cover five missing levels.
  for (int attempt = 0; attempt < 10; ++attempt) {
    if (CreateDirectoryA(buffer, nullptr) || GetLastError() == ERROR_ALREADY_EXISTS) {
      if (end == len) return 1;
      buffer[end] = '\\';
      std::size_t next = end + 1;
      while (next < len && path[next] != '\\') ++next;
      if (next < len) buffer[next] = '\0';
      end = next;
    } else if (GetLastError() == ERROR_PATH_NOT_FOUND) {
      std::size_t p = end;
      while (p > 0 && path[--p] != '\\') {
      }
      if (p == 0) return 0;
      buffer[p] = '\0';
      end = p;
    } else {
      return 0;
    }
  }
  return 0;
}

void CopyFolderTree(const char* destination, const char* source) {
  if (destination == nullptr || source == nullptr) return;
  char pattern[ul::kTextCap];
  if (ul::Format(pattern, "%s\\*.*", source) > kMaxPathLen) return;
  WIN32_FIND_DATAA fd;
  ul::FindHandle find(FindFirstFileA(pattern, &fd));
  if (!find) return;
  do {
    const char* name = fd.cFileName;
    const bool folder = (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (folder && (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)) continue;
    char from[ul::kTextCap];
    char to[ul::kTextCap];
    // Also bounds the walk when the destination lies inside the source.
    if (ul::Format(from, "%s\\%s", source, name) > kMaxPathLen ||
        ul::Format(to, "%s\\%s", destination, name) > kMaxPathLen) {
      continue;
    }
    if (fd.dwFileAttributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM)) {
      SetFileAttributesA(from, FILE_ATTRIBUTE_NORMAL);
    }
    if (folder) {
      CreateFolderTree(to);
      CopyFolderTree(to, from);
    } else {
      CopyFileA(from, to, FALSE);
    }
  } while (FindNextFileA(find.Get(), &fd));
}

void CopyUserData(const char* destination, const char* oldFolder) {
  if (destination == nullptr || oldFolder == nullptr) return;
  char source[ul::kTextCap];
  std::size_t n = std::strlen(oldFolder);
  if (n > 0 && oldFolder[n - 1] == '\\') {
    ul::Format(source, "%s%s", oldFolder, "UserData");
  } else {
    ul::Format(source, "%s\\%s", oldFolder, "UserData");
  }
  CopyFolderTree(destination, source);
}

bool IsVolumeRoot(const char* path) {
  if (path == nullptr) return false;
  // The folder that DeleteFolderTree would list: path with a trailing "*.*"
  // dropped, as a folder (ending in a separator).
  char folder[ul::kTextCap];
  std::size_t n = ul::Copy(folder, path);
  if (n >= 3 && std::strcmp(folder + n - 3, "*.*") == 0 &&
      (n == 3 || IsSeparator(folder[n - 4]) || folder[n - 4] == ':')) {
    n -= 3;
    folder[n] = '\0';
  }
  if (n == 0 || !IsSeparator(folder[n - 1])) ul::Append(folder, "\\");

  // Resolves ".", "..", "\" and "C:" against the current folders.
  char full[ul::kTextCap];
  DWORD len = GetFullPathNameA(folder, sizeof(full), full, nullptr);
  if (len == 0 || len >= sizeof(full)) return true;  // cannot tell: treat as a root
  for (char* p = full; *p; ++p) {
    if (*p == '/') *p = '\\';
  }
  const char* rest = full;
  if (std::strncmp(rest, "\\\\?\\UNC\\", 8) == 0) {
    rest += 6;  // keep two backslashes: "\\server\share"
  } else if (std::strncmp(rest, "\\\\?\\", 4) == 0 || std::strncmp(rest, "\\\\.\\", 4) == 0) {
    rest += 4;
  }

  auto onlySeparators = [](const char* s) {
    for (; *s; ++s) {
      if (!IsSeparator(*s)) return false;
    }
    return true;
  };
  if (std::strlen(rest) >= 2 && rest[1] == ':') return onlySeparators(rest + 2);
  if (IsSeparator(rest[0]) && IsSeparator(rest[1])) {
    // \\server\share\ : a root while nothing follows the share's name.
    const char* p = rest + 2;
    for (int part = 0; part < 2; ++part) {
      while (*p && !IsSeparator(*p)) ++p;
      while (IsSeparator(*p)) ++p;
    }
    return *p == '\0';
  }
  return onlySeparators(rest);
}

int DeleteFolderTree(const char* path) {
  // Short paths ("C:\", "C:") are drive roots; longer spellings of a root
  // ("C:\*.*", "C:\.") are caught by IsVolumeRoot.
  if (path == nullptr || std::strlen(path) <= 4 || IsVolumeRoot(path)) return 0;

  char pattern[ul::kTextCap];
  const std::size_t len = std::strlen(path);
  const bool hasPattern = std::strcmp(path + len - 4, "\\*.*") == 0;
  if (ul::Format(pattern, hasPattern ? "%s" : "%s\\*.*", path) > kMaxPathLen) return 0;

  WIN32_FIND_DATAA fd;
  ul::FindHandle find(FindFirstFileA(pattern, &fd));
  if (!find) return 0;

  char drive[_MAX_DRIVE];
  char dir[_MAX_DIR];
  _splitpath(pattern, drive, dir, nullptr, nullptr);
  do {
    const char* name = fd.cFileName;
    const bool folder = (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (folder && (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)) continue;
    char entry[ul::kTextCap];
    if (ul::Format(entry, "%s%s%s", drive, dir, name) > kMaxPathLen) continue;
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesA(entry, FILE_ATTRIBUTE_NORMAL);
    if (!folder) {
      DeleteFileA(entry);
    } else if (name[0] != '.') {
      if (fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        // A linked folder: remove the link, never what it points to.
        RemoveDirectoryA(entry);
        continue;
      }
      char sub[ul::kTextCap];
      if (ul::Format(sub, "%s%s%s\\*.*", drive, dir, name) <= kMaxPathLen) DeleteFolderTree(sub);
    }
  } while (FindNextFileA(find.Get(), &fd));
  find.Reset();  // the folder goes next, and an open search would hold it

  char self[ul::kTextCap];
  std::size_t n = ul::Format(self, "%s%s", drive, dir);
  if (n > 0 && IsSeparator(self[n - 1])) self[n - 1] = '\0';
  RemoveDirectoryA(self);
  return 1;
}
