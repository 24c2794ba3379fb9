// The native build's hashing and signature checks: Debian's OpenSSL 3. The
// updater itself runs only on Windows (release_crypto_win.cpp); this serves
// the publisher's tool and the native tests. ECDSA signatures travel as
// r||s; OpenSSL speaks DER, converted here.
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>

#include <memory>
#include <new>

#include "formats/trust/openssl_owned_posix.h"
#include "formats/trust/openssl_p256_posix.h"
#include "formats/trust/release_crypto.h"

namespace {

template <typename T>
using Ptr = ul::OpenSslPtr<T>;

constexpr int kCoordinate = static_cast<int>(ul::kP256KeyBytes / 2);

// r||s as the DER form OpenSSL checks.
bool DerSignature(const uint8_t (&rs)[ul::kP256SignatureBytes], Ptr<unsigned char>* der, int* length) {
  Ptr<ECDSA_SIG> sig(ECDSA_SIG_new());
  BIGNUM* r = BN_bin2bn(rs, kCoordinate, nullptr);
  BIGNUM* s = BN_bin2bn(rs + kCoordinate, kCoordinate, nullptr);
  if (!sig || r == nullptr || s == nullptr || ECDSA_SIG_set0(sig.get(), r, s) != 1) {
    BN_free(r);
    BN_free(s);
    return false;
  }
  unsigned char* bytes = nullptr;
  *length = i2d_ECDSA_SIG(sig.get(), &bytes);
  der->reset(bytes);
  return *length > 0;
}

}  // namespace

namespace ul {

bool ReleaseCryptoAvailable() { return true; }

struct Sha256::State {
  Ptr<EVP_MD_CTX> ctx;
  bool ok = false;
};

Sha256::Sha256() : state_(new (std::nothrow) State) {
  if (state_ == nullptr) return;
  state_->ctx.reset(EVP_MD_CTX_new());
  state_->ok = state_->ctx && EVP_DigestInit_ex(state_->ctx.get(), EVP_sha256(), nullptr) == 1;
}

Sha256::~Sha256() { delete state_; }

bool Sha256::Update(const void* data, std::size_t length) {
  if (state_ == nullptr || !state_->ok) return false;
  state_->ok = EVP_DigestUpdate(state_->ctx.get(), data, length) == 1;
  return state_->ok;
}

bool Sha256::Finish(uint8_t (&digest)[kSha256Bytes]) {
  if (state_ == nullptr || !state_->ok) return false;
  state_->ok = false;
  unsigned int n = 0;
  return EVP_DigestFinal_ex(state_->ctx.get(), digest, &n) == 1 && n == kSha256Bytes;
}

bool VerifyP256(const uint8_t (&key)[kP256KeyBytes], const void* data, std::size_t length,
                const uint8_t (&signature)[kP256SignatureBytes]) {
  Ptr<EVP_PKEY> pkey = ImportP256Key(key, nullptr);
  Ptr<unsigned char> der;
  int derLength = 0;
  Ptr<EVP_MD_CTX> ctx(EVP_MD_CTX_new());
  return pkey && ctx && DerSignature(signature, &der, &derLength) &&
         EVP_DigestVerifyInit(ctx.get(), nullptr, EVP_sha256(), nullptr, pkey.get()) == 1 &&
         EVP_DigestVerify(ctx.get(), der.get(), static_cast<std::size_t>(derLength),
                          static_cast<const unsigned char*>(data), length) == 1;
}

}  // namespace ul
