// MD5 message digest (RFC 1321), the digest behind the hash list.
//
// No Windows headers here: this builds natively for the sanitizer runs.
#pragma once

#include <cstddef>
#include <cstdint>

class Md5 {
 public:
  Md5() { Init(); }

  void Init();
  void Update(const void* data, std::size_t length);
  // Writes the 16 digest bytes; the object must be Init()ed before reuse.
  void Final(unsigned char digest[16]);

 private:
  void Transform(const unsigned char* block);

  uint32_t state_[4];
  uint64_t byteCount_;
  unsigned char buffer_[64];
};

// MD5 of length bytes at data as 32 lower-case hexadecimal characters
// ("%02x" per byte, in digest byte order) and a terminator: hexOut holds at
// least 33 bytes.
void DigestBuffer(const void* data, std::size_t length, char* hexOut);

// Whether the 32 characters at text are such a digest's text (lower-case
// hexadecimal; text holds at least 32 characters or ends before them).
bool IsDigestHex(const char* text);
