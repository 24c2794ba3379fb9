// The native build's MD5: Debian's OpenSSL 3. The updater itself runs only
// on Windows (md5_win.cpp); this serves the publisher's tool and the native
// tests and fuzzers.
#include <openssl/evp.h>

#include <new>

#include "formats/trust/md5.h"
#include "formats/trust/openssl_owned_posix.h"

struct Md5::State {
  ul::OpenSslPtr<EVP_MD_CTX> ctx{EVP_MD_CTX_new()};
  bool ok = false;
};

// Without room for its state the object fails every step.
Md5::Md5() : state_(new (std::nothrow) State) { Init(); }

Md5::~Md5() = default;

void Md5::Init() {
  if (state_ == nullptr) return;
  state_->ok = state_->ctx && EVP_DigestInit_ex(state_->ctx.get(), EVP_md5(), nullptr) == 1;
}

bool Md5::Update(const void* data, std::size_t length) {
  if (state_ == nullptr) return false;
  if (length > 0 && state_->ok) state_->ok = EVP_DigestUpdate(state_->ctx.get(), data, length) == 1;
  return state_->ok;
}

bool Md5::Final(unsigned char digest[16]) {
  if (state_ == nullptr) return false;
  unsigned int n = 0;
  const bool ok = state_->ok && EVP_DigestFinal_ex(state_->ctx.get(), digest, &n) == 1 && n == 16;
  state_->ok = false;
  return ok;
}
