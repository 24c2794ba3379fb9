// The MD5 shim over the system's library: DigestBuffer against one call of
// libcrypto, and the incremental Md5 object fed in pieces whose sizes come
// from the input (the shim hands every piece on, whatever its size).
#include "formats/trust/md5.h"

#include <openssl/evp.h>

#include <cstring>
#include <string>

#include "fuzz_support.h"

namespace {

std::string Hex(const unsigned char* bytes, std::size_t n) {
  static const char kHex[] = "0123456789abcdef";
  std::string s;
  for (std::size_t i = 0; i < n; ++i) {
    s += kHex[bytes[i] >> 4];
    s += kHex[bytes[i] & 15];
  }
  return s;
}

std::string Reference(const uint8_t* data, std::size_t size) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  if (EVP_Digest(data, size, digest, &n, EVP_md5(), nullptr) != 1 || n != 16) {
    fuzz::Fail(__FILE__, __LINE__, "EVP_Digest", "");
  }
  return Hex(digest, n);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string expected = Reference(data, size);
  const std::string input(reinterpret_cast<const char*>(data), size);

  char hex[34];
  std::memset(hex, 'Z', sizeof hex);
  DigestBuffer(data, size, hex);
  FUZZ_CHECK(hex[32] == '\0' && expected == hex, input);

  // The same bytes in pieces: each piece's size is taken from the byte at
  // its start, so pieces cross the 64-byte blocks at every offset.
  Md5 md5;
  for (std::size_t at = 0; at < size;) {
    std::size_t piece = 1 + data[at] % 130;
    if (piece > size - at) piece = size - at;
    md5.Update(data + at, piece);
    at += piece;
  }
  unsigned char digest[16];
  md5.Final(digest);
  FUZZ_CHECK(Hex(digest, 16) == expected, input);
  md5.Init();
  md5.Update(data, 0);
  md5.Final(digest);
  FUZZ_CHECK(Hex(digest, 16) == "d41d8cd98f00b204e9800998ecf8427e", input);
  return 0;
}
