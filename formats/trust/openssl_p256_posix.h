// P-256 keys for OpenSSL, made from the bytes this system keeps them in: the
// one import that the native checks and the publisher's signing share.
#pragma once

#include <cstdint>

#include "formats/trust/openssl_owned_posix.h"
#include "formats/trust/release_manifest.h"

namespace ul {

// The key of the public point X||Y, with the private scalar when
// privateKey is not null (kP256PrivateBytes, big-endian). Null when OpenSSL
// refuses them (a point off the curve, say).
OpenSslPtr<EVP_PKEY> ImportP256Key(const uint8_t (&publicKey)[kP256KeyBytes], const uint8_t* privateKey);

}  // namespace ul
