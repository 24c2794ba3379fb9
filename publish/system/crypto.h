// Release key pairs and signatures for the operators' tool: OpenSSL on
// Debian (crypto_posix.cpp), Windows' CNG in the Windows build
// (crypto_win.cpp). Hashing and signature checks are the updater's own
// (formats/trust/release_crypto.h), which the native build of this tool provides
// with OpenSSL too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "formats/trust/release_manifest.h"

namespace ulp {

struct KeyPair {
  uint8_t privateKey[ul::kP256PrivateBytes] = {0};
  uint8_t publicKey[ul::kP256KeyBytes] = {0};  // X||Y
};

// A new random P-256 key pair from the system. False with error when the
// system cannot make one.
bool MakeKeyPair(KeyPair* out, std::string* error);

// Signs the SHA-256 of data (ECDSA P-256, r||s). The signature is checked
// against the public half before it is given out, so a key file whose two
// halves do not belong together fails here.
bool SignP256(const KeyPair& key, const void* data, std::size_t length,
              uint8_t (&signature)[ul::kP256SignatureBytes], std::string* error);

}  // namespace ulp
