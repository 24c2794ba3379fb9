// Support for the portable tests: real temporary files that work natively
// and under Wine, and the DebugTrace lines the code under test wrote.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace testsupport {

// A file in the temporary folder (TEMP on Windows, TMPDIR or /tmp
// elsewhere), written byte for byte and removed when the object goes away.
class TempFile {
 public:
  explicit TempFile(const std::string& contents);
  ~TempFile();
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  const std::string& path() const { return path_; }
  // Opens the file in text mode, as the updater opens the server's files.
  std::FILE* OpenText();
  void Rewrite(const std::string& contents);

 private:
  std::string path_;
  std::vector<std::FILE*> open_;
};

// A path in the temporary folder that names no file yet.
std::string UniqueTempPath(const char* tag);

// Trace lines written since the last call, each with its line feed.
std::vector<std::string> TakeTraces();

// Bytes that look like compressed data (xorshift from seed): no chunk
// boundary is forced by repetition.
std::string Noise(std::size_t n, uint32_t seed);

// Test data: byte i of a pattern that repeats only every 65521 bytes.
std::string PatternBytes(std::size_t length);

// DigestBuffer's 32 hexadecimal characters for data (checks the terminator).
std::string Md5Hex(const std::string& data);

}  // namespace testsupport
