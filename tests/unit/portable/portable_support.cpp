#include "portable_support.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <mutex>

#ifdef _WIN32
#include <process.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif

#include "common/trace.h"
#include "formats/trust/md5.h"

namespace {

std::mutex traceLock;
std::vector<std::string> traceLines;

std::string TempFolder() {
#ifdef _WIN32
  const char* dir = std::getenv("TEMP");
  if (dir == nullptr) dir = std::getenv("TMP");
  std::string folder = dir ? dir : ".";
  if (folder.back() != '\\') folder += '\\';
#else
  const char* dir = std::getenv("TMPDIR");
  std::string folder = dir ? dir : "/tmp";
  if (folder.back() != '/') folder += '/';
#endif
  return folder;
}

void WriteAll(const std::string& path, const std::string& contents) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) {
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    std::abort();
  }
  if (!contents.empty()) std::fwrite(contents.data(), 1, contents.size(), f);
  std::fclose(f);
}

}  // namespace

// The portable tests link only the portable library; this is the one
// definition of the diagnostic channel they see. It keeps the lines so that
// tests can check what was traced.
void DebugTrace(const char* fmt, ...) {
  char line[ul::kTraceCap];
  va_list ap;
  va_start(ap, fmt);
  ul::FormatTraceLine(line, fmt, ap);
  va_end(ap);
  std::lock_guard<std::mutex> hold(traceLock);
  traceLines.emplace_back(line);
}

namespace testsupport {

std::string UniqueTempPath(const char* tag) {
  static int counter = 0;
  return TempFolder() + "ulpt_" + std::to_string(getpid()) + "_" + std::to_string(++counter) + "_" +
         tag;
}

TempFile::TempFile(const std::string& contents) : path_(UniqueTempPath("file")) {
  WriteAll(path_, contents);
}

TempFile::~TempFile() {
  for (std::FILE* f : open_) std::fclose(f);
  std::remove(path_.c_str());
}

std::FILE* TempFile::OpenText() {
  std::FILE* f = std::fopen(path_.c_str(), "rt");
  if (f != nullptr) open_.push_back(f);
  return f;
}

void TempFile::Rewrite(const std::string& contents) { WriteAll(path_, contents); }

std::vector<std::string> TakeTraces() {
  std::lock_guard<std::mutex> hold(traceLock);
  std::vector<std::string> lines;
  lines.swap(traceLines);
  return lines;
}

std::string Md5Hex(const std::string& data) {
  char hex[33];
  std::memset(hex, 'Z', sizeof hex);
  DigestBuffer(data.data(), data.size(), hex);
  EXPECT_EQ(hex[32], '\0');
  return std::string(hex);
}

std::string PatternBytes(std::size_t length) {
  std::string bytes(length, '\0');
  for (std::size_t i = 0; i < length; ++i) {
    bytes[i] = static_cast<char>(((i % 65521) * 131 + 17) & 0xff);
  }
  return bytes;
}

std::string Noise(std::size_t n, uint32_t seed) {
  std::string s(n, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (auto& c : s) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    c = static_cast<char>(x >> 24);
  }
  return s;
}

}  // namespace testsupport
