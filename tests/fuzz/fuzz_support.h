// What the fuzz targets share: the input bytes as a stream like the files
// the updater reads, and a check that ends the run so that libFuzzer keeps
// the input that broke a property.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace fuzz {

// A read-only stream over the bytes (an empty one for no bytes). The readers
// were written for files opened in text mode; natively that mode changes
// nothing, so the stream gives them the bytes exactly as they are.
class ByteStream {
 public:
  ByteStream(const uint8_t* data, std::size_t size);
  ~ByteStream();
  ByteStream(const ByteStream&) = delete;
  ByteStream& operator=(const ByteStream&) = delete;
  std::FILE* get() const { return file_; }

 private:
  std::FILE* file_;
};

// The bytes as a terminated text: everything up to the first zero byte.
std::string TextOf(const uint8_t* data, std::size_t size);

// Shows text with every byte outside printable ASCII as \xNN, and a run of
// more than eight equal bytes as one with its count in braces.
std::string Shown(const std::string& text);

[[noreturn]] void Fail(const char* file, int line, const char* what, const std::string& detail);

}  // namespace fuzz

// Checks a property; a failure prints it with detail and aborts, which
// libFuzzer reports as a finding and saves the input for.
#define FUZZ_CHECK(cond, detail)                                    \
  do {                                                              \
    if (!(cond)) ::fuzz::Fail(__FILE__, __LINE__, #cond, (detail)); \
  } while (0)
