// MD5 message digest (RFC 1321), the digest behind the hash list, from the
// system: advapi32's own MD5 in the Windows build (md5_win.cpp; every
// Windows the updater is built for has it), Debian's OpenSSL natively
// (md5_posix.cpp). Nothing here computes MD5 itself.
//
// No Windows headers here: this builds natively for the sanitizer runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

class Md5 {
 public:
  Md5();
  ~Md5();
  Md5(const Md5&) = delete;
  Md5& operator=(const Md5&) = delete;

  // Starts again, dropping what was given.
  void Init();
  // False once a step failed (or the system has no MD5); every later step
  // fails too, so a caller may check only Final.
  bool Update(const void* data, std::size_t length);
  // Writes the 16 digest bytes; the object must be Init()ed before reuse.
  bool Final(unsigned char digest[16]);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// MD5 of length bytes at data as 32 lower-case hexadecimal characters
// ("%02x" per byte, in digest byte order) and a terminator: hexOut holds at
// least 33 bytes. False, with an empty text (which no digest equals), when
// the system cannot digest.
bool DigestBuffer(const void* data, std::size_t length, char* hexOut);

// Whether the 32 characters at text are such a digest's text (lower-case
// hexadecimal; text holds at least 32 characters or ends before them).
bool IsDigestHex(const char* text);
