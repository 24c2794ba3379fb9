#include "formats/trust/md5.h"

bool DigestBuffer(const void* data, std::size_t length, char* hexOut) {
  static const char kHex[] = "0123456789abcdef";
  Md5 md5;
  unsigned char digest[16];
  if (!md5.Update(data, length) || !md5.Final(digest)) {
    hexOut[0] = '\0';
    return false;
  }
  for (int i = 0; i < 16; ++i) {
    hexOut[2 * i] = kHex[digest[i] >> 4];
    hexOut[2 * i + 1] = kHex[digest[i] & 0x0f];
  }
  hexOut[32] = '\0';
  return true;
}

bool IsDigestHex(const char* text) {
  for (std::size_t i = 0; i < 32; ++i) {
    const char c = text[i];
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}
