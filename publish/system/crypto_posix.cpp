// OpenSSL (Debian's libcrypto 3) behind the tool's key pairs and signatures.
// ECDSA signatures travel as r||s; OpenSSL speaks DER, converted here. The
// hashing and checks of this build, and the key import they share, are
// formats/trust/release_crypto_posix.cpp and openssl_p256_posix.h.
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>

#include <cstring>
#include <memory>
#include <new>

#include "formats/trust/openssl_owned_posix.h"
#include "formats/trust/openssl_p256_posix.h"
#include "formats/trust/release_crypto.h"
#include "system/crypto.h"

namespace {

template <typename T>
using Ptr = ul::OpenSslPtr<T>;

constexpr int kCoordinate = static_cast<int>(ul::kP256KeyBytes / 2);

}  // namespace

bool ulp::MakeKeyPair(KeyPair* out, std::string* error) {
  Ptr<EVP_PKEY> key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
  BIGNUM* scalar = nullptr;
  unsigned char point[1 + ul::kP256KeyBytes];
  std::size_t pointLength = 0;
  const bool ok =
      key && EVP_PKEY_get_bn_param(key.get(), OSSL_PKEY_PARAM_PRIV_KEY, &scalar) == 1 &&
      BN_bn2binpad(scalar, out->privateKey, ul::kP256PrivateBytes) == static_cast<int>(ul::kP256PrivateBytes) &&
      EVP_PKEY_get_octet_string_param(key.get(), OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point,
                                      &pointLength) == 1 &&
      pointLength == sizeof point && point[0] == 0x04;
  BN_clear_free(scalar);
  if (!ok) {
    *error = "OpenSSL could not make a P-256 key pair";
    return false;
  }
  std::memcpy(out->publicKey, point + 1, ul::kP256KeyBytes);
  return true;
}

bool ulp::SignP256(const KeyPair& key, const void* data, std::size_t length,
                   uint8_t (&signature)[ul::kP256SignatureBytes], std::string* error) {
  Ptr<EVP_PKEY> pkey = ul::ImportP256Key(key.publicKey, key.privateKey);
  Ptr<EVP_MD_CTX> ctx(EVP_MD_CTX_new());
  unsigned char der[128];
  std::size_t derLength = sizeof der;
  if (!pkey || !ctx || EVP_DigestSignInit(ctx.get(), nullptr, EVP_sha256(), nullptr, pkey.get()) != 1 ||
      EVP_DigestSign(ctx.get(), der, &derLength, static_cast<const unsigned char*>(data), length) != 1) {
    *error = "OpenSSL could not sign with this key";
    return false;
  }
  const unsigned char* p = der;
  Ptr<ECDSA_SIG> sig(d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(derLength)));
  if (!sig || BN_bn2binpad(ECDSA_SIG_get0_r(sig.get()), signature, kCoordinate) != kCoordinate ||
      BN_bn2binpad(ECDSA_SIG_get0_s(sig.get()), signature + kCoordinate, kCoordinate) != kCoordinate) {
    *error = "OpenSSL gave a signature of an unexpected form";
    return false;
  }
  if (!ul::VerifyP256(key.publicKey, data, length, signature)) {
    *error = "the key file's private and public halves do not belong together";
    return false;
  }
  return true;
}
