// SHA-256 and ECDSA P-256 signature checks, both from the system: Windows'
// own bcrypt.dll in the updater (loaded when first needed, so that a build
// without a release key never touches it and still starts where it is
// missing; release_crypto_win.cpp), Debian's OpenSSL in the native build of
// the publisher's tool and of the tests (release_crypto_posix.cpp). Nothing
// here computes either itself.
//
// No Windows headers here: the callers build natively too.
#pragma once

#include <cstddef>
#include <cstdint>

#include "formats/trust/release_manifest.h"

namespace ul {

// True when this system can hash and check signatures. Where it cannot, a
// build with a release key refuses every run rather than skip the check.
bool ReleaseCryptoAvailable();

// An incremental SHA-256. Once a step failed (or the system has no SHA-256)
// every later step fails too, so a caller may check only Finish.
class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  bool Update(const void* data, std::size_t length);
  // The digest of everything given; the object is spent afterwards.
  bool Finish(uint8_t (&digest)[kSha256Bytes]);

 private:
  struct State;
  State* state_;
};

// True only when signature (r||s) is a valid ECDSA P-256 signature by key
// (X||Y) over the SHA-256 of data; false for anything else, including a
// system that cannot check.
bool VerifyP256(const uint8_t (&key)[kP256KeyBytes], const void* data, std::size_t length,
                const uint8_t (&signature)[kP256SignatureBytes]);

}  // namespace ul
