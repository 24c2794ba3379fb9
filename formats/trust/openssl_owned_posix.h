// Owners of OpenSSL's objects for the native build's hashing, checks and
// the publisher's signing: each freed by its own function when the owner
// goes.
#pragma once

#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>

#include <memory>

namespace ul {

struct OpenSslFree {
  void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
  void operator()(EVP_PKEY_CTX* p) const { EVP_PKEY_CTX_free(p); }
  void operator()(EVP_MD_CTX* p) const { EVP_MD_CTX_free(p); }
  void operator()(OSSL_PARAM_BLD* p) const { OSSL_PARAM_BLD_free(p); }
  void operator()(OSSL_PARAM* p) const { OSSL_PARAM_free(p); }
  void operator()(BIGNUM* p) const { BN_clear_free(p); }
  void operator()(ECDSA_SIG* p) const { ECDSA_SIG_free(p); }
  void operator()(unsigned char* p) const { OPENSSL_free(p); }
};

template <typename T>
using OpenSslPtr = std::unique_ptr<T, OpenSslFree>;

}  // namespace ul
