// Real folders and files for the Windows-facing tests: a fresh folder below
// the temporary folder per test, removed afterwards by the shell (not by the
// code under test).
#pragma once

#include <windows.h>

#include <shellapi.h>

#include <gtest/gtest.h>

#include <string>

namespace filesupport {

inline std::string FreshFolder(const char* tag) {
  char temp[MAX_PATH];
  GetTempPathA(sizeof(temp), temp);
  static unsigned serial = 0;
  std::string path = std::string(temp) + "ul_" + tag + "_" + std::to_string(GetCurrentProcessId()) +
                     "_" + std::to_string(++serial);
  CreateDirectoryA(path.c_str(), nullptr);
  return path;
}

// Removes a test folder with the shell's own deletion.
inline void RemoveFolder(const std::string& path) {
  std::string from = path + std::string(1, '\0');  // double terminator
  SHFILEOPSTRUCTA op = {};
  op.wFunc = FO_DELETE;
  op.pFrom = from.c_str();
  op.fFlags = FOF_NOCONFIRMATION | FOF_NOERRORUI | FOF_SILENT;
  SHFileOperationA(&op);
}

inline bool WriteBytes(const std::string& path, const std::string& data) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD n = 0;
  BOOL ok = WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &n, nullptr);
  CloseHandle(h);
  return ok && n == data.size();
}

// The file's bytes, or "<missing>" when it cannot be read.
inline std::string ReadBytes(const std::string& path) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return "<missing>";
  std::string data;
  char buf[65536];
  DWORD n = 0;
  while (ReadFile(h, buf, sizeof(buf), &n, nullptr) && n > 0) data.append(buf, n);
  CloseHandle(h);
  return data;
}

// Compares a file with the expected bytes; a mismatch reports sizes and the
// first differing offset instead of the whole contents.
inline ::testing::AssertionResult HasBytes(const std::string& path, const std::string& expected) {
  const std::string got = ReadBytes(path);
  if (got == expected) return ::testing::AssertionSuccess();
  std::size_t i = 0;
  while (i < got.size() && i < expected.size() && got[i] == expected[i]) ++i;
  return ::testing::AssertionFailure() << path << ": " << got.size() << " bytes, expected "
                                       << expected.size() << ", first difference at " << i;
}

inline bool Exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

inline bool IsFolder(const std::string& path) {
  DWORD a = GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

// Bytes that repeat only every 251 bytes, so shifted or cut data shows.
inline std::string Pattern(std::size_t length, unsigned seed = 0) {
  std::string s(length, '\0');
  for (std::size_t i = 0; i < length; ++i) s[i] = static_cast<char>((i + seed) % 251);
  return s;
}

// Fresh folder removed at the end of the scope.
class ScopedFolder {
 public:
  explicit ScopedFolder(const char* tag) : path_(FreshFolder(tag)) {}
  ~ScopedFolder() { RemoveFolder(path_); }
  ScopedFolder(const ScopedFolder&) = delete;
  ScopedFolder& operator=(const ScopedFolder&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& rest) const { return path_ + "\\" + rest; }

 private:
  std::string path_;
};

}  // namespace filesupport
