#include "formats/trust/openssl_p256_posix.h"

#include <openssl/core_names.h>

#include <cstring>

namespace ul {

OpenSslPtr<EVP_PKEY> ImportP256Key(const uint8_t (&publicKey)[kP256KeyBytes], const uint8_t* privateKey) {
  unsigned char point[1 + kP256KeyBytes];
  point[0] = 0x04;  // uncompressed
  std::memcpy(point + 1, publicKey, kP256KeyBytes);
  OpenSslPtr<OSSL_PARAM_BLD> build(OSSL_PARAM_BLD_new());
  OpenSslPtr<BIGNUM> d;
  if (privateKey != nullptr) d.reset(BN_bin2bn(privateKey, kP256PrivateBytes, nullptr));
  if (!build || (privateKey != nullptr && !d) ||
      !OSSL_PARAM_BLD_push_utf8_string(build.get(), OSSL_PKEY_PARAM_GROUP_NAME, "prime256v1", 0) ||
      !OSSL_PARAM_BLD_push_octet_string(build.get(), OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point) ||
      (d && !OSSL_PARAM_BLD_push_BN(build.get(), OSSL_PKEY_PARAM_PRIV_KEY, d.get())))
    return nullptr;
  OpenSslPtr<OSSL_PARAM> params(OSSL_PARAM_BLD_to_param(build.get()));
  OpenSslPtr<EVP_PKEY_CTX> ctx(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
  EVP_PKEY* key = nullptr;
  const int selection = d ? EVP_PKEY_KEYPAIR : EVP_PKEY_PUBLIC_KEY;
  if (!params || !ctx || EVP_PKEY_fromdata_init(ctx.get()) <= 0 ||
      EVP_PKEY_fromdata(ctx.get(), &key, selection, params.get()) <= 0)
    return nullptr;
  return OpenSslPtr<EVP_PKEY>(key);
}

}  // namespace ul
