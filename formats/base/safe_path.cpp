#include "formats/base/safe_path.h"

#include <cstring>

namespace ul {
namespace {

constexpr std::size_t kMaxResolvedPath = kLongestPath;

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Characters that Windows refuses in a file or folder name: control
// characters, the wildcard and redirection characters, the quote, and ':'
// (drive letters and alternate data streams).
bool IsForbiddenInName(unsigned char c) {
  return c < 0x20 || std::strchr("<>:\"|?*", c) != nullptr;
}

bool OnlyDotsAndBlanks(const char* begin, const char* end) {
  for (const char* p = begin; p < end; ++p) {
    if (*p != '.' && *p != ' ') return false;
  }
  return true;
}

// Windows drops trailing dots and blanks from a path component, so "...",
// ".. " and ". ." all climb out like "..": any component made only of dots
// and blanks with at least two dots counts as a parent reference.
bool IsParentComponent(const char* begin, const char* end) {
  int dots = 0;
  for (const char* p = begin; p < end; ++p) {
    if (*p == '.') {
      ++dots;
    } else if (*p != ' ') {
      return false;
    }
  }
  return dots >= 2;
}

// The path being built: a root that never changes and the components after
// it, each one ending at a recorded offset so that ".." can take one back.
class PathBuilder {
 public:
  // The root as given, written with '\' and ending in one.
  bool AppendRoot(const char* begin, const char* end) {
    if (!Append(begin, end)) return false;
    for (char* p = text_; *p; ++p) {
      if (*p == '/') *p = '\\';
    }
    return text_[length_ - 1] == '\\' || Append("\\", nullptr);
  }

  // Adds one component as Windows will name it: trailing dots and blanks
  // dropped. "." adds nothing and ".." takes the last component back; every
  // other component made only of dots and blanks is refused, as are
  // forbidden characters and device names.
  bool AddComponent(const char* begin, const char* end) {
    if (end - begin == 1 && *begin == '.') return true;
    if (end - begin == 2 && begin[0] == '.' && begin[1] == '.') return Climb();
    if (OnlyDotsAndBlanks(begin, end)) return false;
    for (const char* p = begin; p < end; ++p) {
      if (IsForbiddenInName(static_cast<unsigned char>(*p))) return false;
    }
    while (end[-1] == '.' || end[-1] == ' ') --end;
    if (IsDeviceName(begin, end)) return false;
    if (depth_ == kMaxDepth) return false;
    if (depth_ > 0 && !Append("\\", nullptr)) return false;
    starts_[depth_++] = length_;
    return Append(begin, end);
  }

  // Feeds every component of text; separators of any kind and number
  // between them.
  bool AddComponents(const char* text) {
    const char* component = text;
    for (const char* p = text;; ++p) {
      if (*p == '\0' || IsSeparator(*p)) {
        if (p > component && !AddComponent(component, p)) return false;
        if (*p == '\0') return true;
        component = p + 1;
      }
    }
  }

  std::size_t Depth() const { return depth_; }
  const char* Text() const { return text_; }

  // Makes the components added so far part of the root, which no ".." can
  // take away.
  bool Seal() {
    if (depth_ > 0 && !Append("\\", nullptr)) return false;
    depth_ = 0;
    return true;
  }

 private:
  static constexpr std::size_t kMaxDepth = kMaxResolvedPath / 2;

  bool Append(const char* begin, const char* end) {
    std::size_t n = end != nullptr ? static_cast<std::size_t>(end - begin) : std::strlen(begin);
    if (length_ + n > kMaxResolvedPath) return false;
    std::memcpy(text_ + length_, begin, n);
    length_ += n;
    text_[length_] = '\0';
    return true;
  }

  bool Climb() {
    if (depth_ == 0) return false;  // above the folder
    --depth_;
    length_ = starts_[depth_];
    // Drop the separator in front of the component as well.
    if (depth_ > 0) --length_;
    text_[length_] = '\0';
    return true;
  }

  char text_[kMaxResolvedPath + 1] = {0};
  std::size_t length_ = 0;
  std::size_t starts_[kMaxDepth] = {0};
  std::size_t depth_ = 0;
};

// The part of an absolute folder that no ".." can take away: "X:\" or
// "\\server\share\". Returns its length in folder, 0 when folder is neither
// (relative, drive-relative "C:x", or a "\\?\" or "\\.\" device path).
std::size_t RootLength(const char* folder) {
  const unsigned char c = static_cast<unsigned char>(folder[0]);
  const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
  if (letter && folder[1] == ':') return IsSeparator(folder[2]) ? 3 : 0;
  if (!IsSeparator(folder[0]) || !IsSeparator(folder[1])) return 0;
  const char* p = folder + 2;
  for (int part = 0; part < 2; ++part) {
    const char* begin = p;
    while (*p != '\0' && !IsSeparator(*p)) {
      if (IsForbiddenInName(static_cast<unsigned char>(*p))) return 0;
      ++p;
    }
    if (p == begin || OnlyDotsAndBlanks(begin, p)) return 0;
    if (part == 0 && *p == '\0') return 0;  // a server without a share
    if (*p != '\0') ++p;
  }
  return static_cast<std::size_t>(p - folder);
}

}  // namespace

bool IsDeviceName(const char* begin, const char* end) {
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  std::size_t len = 0;
  while (begin + len < end && begin[len] != '.') ++len;
  while (len > 0 && begin[len - 1] == ' ') --len;
  char base[8] = {0};
  if (len == 0 || len >= sizeof(base)) return false;
  for (std::size_t i = 0; i < len; ++i) {
    char ch = begin[i];
    base[i] = (ch >= 'a' && ch <= 'z') ? static_cast<char>(ch - 'a' + 'A') : ch;
  }
  for (const char* d : kDevices) {
    if (std::strcmp(base, d) == 0) return true;
  }
  if (std::strncmp(base, "COM", 3) != 0 && std::strncmp(base, "LPT", 3) != 0) return false;
  if (len == 4) return base[3] >= '1' && base[3] <= '9';
  // Windows counts the superscripts one, two and three as digits too; the
  // code page writes them as A9 F6, A9 F7 and A9 F8.
  const unsigned char lead = static_cast<unsigned char>(base[3]);
  const unsigned char trail = static_cast<unsigned char>(base[4]);
  return len == 5 && lead == 0xA9 && trail >= 0xF6 && trail <= 0xF8;
}

bool ResolveInsideFolder(const char* folder, const char* name, char* out, std::size_t cap,
                         std::size_t* folderLength) {
  if (out == nullptr || cap == 0) return false;
  out[0] = '\0';
  if (folder == nullptr || name == nullptr) return false;
  const std::size_t root = RootLength(folder);
  if (root == 0) return false;

  // The folder's own components go through the same rules, so that a ".."
  // in it cannot make the "inside" of a path a different place.
  PathBuilder path;
  if (!path.AppendRoot(folder, folder + root)) return false;
  if (!path.AddComponents(folder + root) || !path.Seal()) return false;
  const std::size_t sealed = std::strlen(path.Text());
  if (!path.AddComponents(name) || path.Depth() == 0) return false;

  const std::size_t n = std::strlen(path.Text());
  if (n + 1 > cap) return false;
  std::memcpy(out, path.Text(), n + 1);
  if (folderLength != nullptr) *folderLength = sealed;
  return true;
}

bool StaysInsideFolder(const char* path) {
  if (path == nullptr) return false;
  if (std::strchr(path, ':') != nullptr) return false;
  const char* component = path;
  for (const char* p = path;; ++p) {
    if (*p == '\0' || IsSeparator(*p)) {
      if (IsParentComponent(component, p)) return false;
      if (*p == '\0') break;
      component = p + 1;
    }
  }
  return true;
}

bool IsSafeRelativePath(const char* path) {
  if (path == nullptr || path[0] == '\0') return false;
  if (IsSeparator(path[0])) return false;
  return StaysInsideFolder(path);
}

bool DownloadPathFits(const char* path) {
  return path != nullptr && std::strlen(path) + sizeof kDownloadPartialSuffix - 1 <= kLongestPath;
}

}  // namespace ul
