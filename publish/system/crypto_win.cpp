// Windows' CNG (bcrypt) behind the tool's key pairs and signatures. Hashing
// and signature checks are the updater's own (formats/trust/release_crypto_win.cpp).
#include <windows.h>

#include <bcrypt.h>

#include <cstring>

#include "formats/base/owned_win.h"
#include "formats/trust/release_crypto.h"
#include "system/crypto.h"

namespace {

struct AlgorithmTraits {
  using Type = BCRYPT_ALG_HANDLE;
  static Type None() { return nullptr; }
  static bool Valid(Type h) { return h != nullptr; }
  static void Close(Type h) { BCryptCloseAlgorithmProvider(h, 0); }
};
struct KeyTraits {
  using Type = BCRYPT_KEY_HANDLE;
  static Type None() { return nullptr; }
  static bool Valid(Type h) { return h != nullptr; }
  static void Close(Type h) { BCryptDestroyKey(h); }
};

constexpr ULONG kCoordinate = ul::kP256KeyBytes / 2;
// BCRYPT_ECCPRIVATE_BLOB: the header, X, Y, then the private scalar.
constexpr ULONG kPrivateBlobBytes = sizeof(BCRYPT_ECCKEY_BLOB) + 3 * kCoordinate;

bool Ok(NTSTATUS status) { return status >= 0; }

bool OpenEcdsa(ul::Owned<AlgorithmTraits>& algorithm) {
  return Ok(BCryptOpenAlgorithmProvider(algorithm.Receive(), BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0));
}

std::string Failure(const char* step, NTSTATUS status) {
  char text[128];
  std::snprintf(text, sizeof text, "Windows' CNG failed at %s (status 0x%08lX)", step,
                static_cast<unsigned long>(status));
  return text;
}

}  // namespace

bool ulp::MakeKeyPair(KeyPair* out, std::string* error) {
  ul::Owned<AlgorithmTraits> algorithm;
  ul::Owned<KeyTraits> key;
  UCHAR blob[kPrivateBlobBytes];
  ULONG got = 0;
  NTSTATUS status = 0;
  if (!OpenEcdsa(algorithm)) {
    *error = "Windows' CNG has no ECDSA P-256 here";
    return false;
  }
  if (!Ok(status = BCryptGenerateKeyPair(algorithm.Get(), key.Receive(), 256, 0)) ||
      !Ok(status = BCryptFinalizeKeyPair(key.Get(), 0)) ||
      !Ok(status = BCryptExportKey(key.Get(), nullptr, BCRYPT_ECCPRIVATE_BLOB, blob, sizeof blob,
                                   &got, 0)) ||
      got != sizeof blob) {
    *error = Failure("making a key pair", status);
    return false;
  }
  std::memcpy(out->publicKey, blob + sizeof(BCRYPT_ECCKEY_BLOB), ul::kP256KeyBytes);
  std::memcpy(out->privateKey, blob + sizeof(BCRYPT_ECCKEY_BLOB) + ul::kP256KeyBytes,
              ul::kP256PrivateBytes);
  SecureZeroMemory(blob, sizeof blob);
  return true;
}

bool ulp::SignP256(const KeyPair& key, const void* data, std::size_t length,
                   uint8_t (&signature)[ul::kP256SignatureBytes], std::string* error) {
  uint8_t digest[ul::kSha256Bytes];
  ul::Sha256 sha;
  if (!sha.Update(data, length) || !sha.Finish(digest)) {
    *error = "Windows' CNG could not hash the manifest";
    return false;
  }
  ul::Owned<AlgorithmTraits> algorithm;
  ul::Owned<KeyTraits> privateKey;
  UCHAR blob[kPrivateBlobBytes];
  BCRYPT_ECCKEY_BLOB header = {BCRYPT_ECDSA_PRIVATE_P256_MAGIC, kCoordinate};
  std::memcpy(blob, &header, sizeof header);
  std::memcpy(blob + sizeof header, key.publicKey, ul::kP256KeyBytes);
  std::memcpy(blob + sizeof header + ul::kP256KeyBytes, key.privateKey, ul::kP256PrivateBytes);
  ULONG got = 0;
  NTSTATUS status = 0;
  const bool signedOk =
      OpenEcdsa(algorithm) &&
      Ok(status = BCryptImportKeyPair(algorithm.Get(), nullptr, BCRYPT_ECCPRIVATE_BLOB,
                                      privateKey.Receive(), blob, sizeof blob, 0)) &&
      Ok(status = BCryptSignHash(privateKey.Get(), nullptr, digest, sizeof digest, signature,
                                 sizeof signature, &got, 0)) &&
      got == sizeof signature;
  SecureZeroMemory(blob, sizeof blob);
  if (!signedOk) {
    *error = Failure("signing", status);
    return false;
  }
  if (!ul::VerifyP256(key.publicKey, data, length, signature)) {
    *error = "the key file's private and public halves do not belong together";
    return false;
  }
  return true;
}
