// SHA-256 and ECDSA P-256 checks through Windows' bcrypt.dll. The program is
// built for Windows versions that have no bcrypt.dll (it came with Vista), so
// the library is loaded from the system folder when first needed and never
// linked: a build without a release key never loads it, and a build with one
// refuses to go on where it is missing.
#include "formats/trust/release_crypto.h"

#include <windows.h>

#include <bcrypt.h>

#include <cstring>
#include <new>
#include <vector>

#include "formats/base/owned_win.h"
#include "formats/base/system_library_win.h"

namespace {

struct Bcrypt {
  ul::Module module;
  decltype(&BCryptOpenAlgorithmProvider) OpenAlgorithmProvider = nullptr;
  decltype(&BCryptCloseAlgorithmProvider) CloseAlgorithmProvider = nullptr;
  decltype(&BCryptGetProperty) GetProperty = nullptr;
  decltype(&BCryptCreateHash) CreateHash = nullptr;
  decltype(&BCryptHashData) HashData = nullptr;
  decltype(&BCryptFinishHash) FinishHash = nullptr;
  decltype(&BCryptDestroyHash) DestroyHash = nullptr;
  decltype(&BCryptImportKeyPair) ImportKeyPair = nullptr;
  decltype(&BCryptDestroyKey) DestroyKey = nullptr;
  decltype(&BCryptVerifySignature) VerifySignature = nullptr;

  template <typename F>
  bool Bind(F* function, const char* name) {
    *function = reinterpret_cast<F>(GetProcAddress(module.Get(), name));
    return *function != nullptr;
  }

  bool Load() {
    module = ul::LoadSystemLibrary("bcrypt.dll");
    return module && Bind(&OpenAlgorithmProvider, "BCryptOpenAlgorithmProvider") &&
           Bind(&CloseAlgorithmProvider, "BCryptCloseAlgorithmProvider") &&
           Bind(&GetProperty, "BCryptGetProperty") && Bind(&CreateHash, "BCryptCreateHash") &&
           Bind(&HashData, "BCryptHashData") && Bind(&FinishHash, "BCryptFinishHash") &&
           Bind(&DestroyHash, "BCryptDestroyHash") && Bind(&ImportKeyPair, "BCryptImportKeyPair") &&
           Bind(&DestroyKey, "BCryptDestroyKey") && Bind(&VerifySignature, "BCryptVerifySignature");
  }
};

// Null when the system has no usable bcrypt.dll. Loaded once per process.
const Bcrypt* Api() {
  static Bcrypt api;
  static const bool loaded = api.Load();
  return loaded ? &api : nullptr;
}

// Handles exist only after Api() gave a table, so their owners may use it.
struct AlgorithmTraits {
  using Type = BCRYPT_ALG_HANDLE;
  static Type None() { return nullptr; }
  static bool Valid(Type h) { return h != nullptr; }
  static void Close(Type h) { Api()->CloseAlgorithmProvider(h, 0); }
};
struct HashTraits {
  using Type = BCRYPT_HASH_HANDLE;
  static Type None() { return nullptr; }
  static bool Valid(Type h) { return h != nullptr; }
  static void Close(Type h) { Api()->DestroyHash(h); }
};
struct KeyTraits {
  using Type = BCRYPT_KEY_HANDLE;
  static Type None() { return nullptr; }
  static bool Valid(Type h) { return h != nullptr; }
  static void Close(Type h) { Api()->DestroyKey(h); }
};
using Algorithm = ul::Owned<AlgorithmTraits>;
using Hash = ul::Owned<HashTraits>;
using Key = ul::Owned<KeyTraits>;

bool Succeeded(NTSTATUS status) { return status >= 0; }

bool OpenAlgorithm(const Bcrypt* api, const wchar_t* name, Algorithm& algorithm) {
  return api != nullptr && Succeeded(api->OpenAlgorithmProvider(algorithm.Receive(), name, nullptr, 0));
}

}  // namespace

namespace ul {

// Vista wants the hash object's memory from the caller; later versions
// accept it too.
struct Sha256::State {
  Algorithm algorithm;
  std::vector<UCHAR> object;
  Hash hash;  // destroyed before the memory it lives in
  bool ok = false;
};

Sha256::Sha256() : state_(new (std::nothrow) State) {
  const Bcrypt* api = Api();
  if (state_ == nullptr || !OpenAlgorithm(api, BCRYPT_SHA256_ALGORITHM, state_->algorithm)) return;
  ULONG objectLength = 0;
  ULONG got = 0;
  if (!Succeeded(api->GetProperty(state_->algorithm.Get(), BCRYPT_OBJECT_LENGTH,
                                  reinterpret_cast<PUCHAR>(&objectLength), sizeof objectLength,
                                  &got, 0)))
    return;
  state_->object.resize(objectLength);
  state_->ok = Succeeded(api->CreateHash(state_->algorithm.Get(), state_->hash.Receive(),
                                         state_->object.data(), objectLength, nullptr, 0, 0));
}

Sha256::~Sha256() { delete state_; }

bool Sha256::Update(const void* data, std::size_t length) {
  if (state_ == nullptr || !state_->ok) return false;
  if (length == 0) return true;
  PUCHAR bytes = static_cast<PUCHAR>(const_cast<void*>(data));
  state_->ok = Succeeded(Api()->HashData(state_->hash.Get(), bytes, static_cast<ULONG>(length), 0));
  return state_->ok;
}

bool Sha256::Finish(uint8_t (&digest)[kSha256Bytes]) {
  if (state_ == nullptr || !state_->ok) return false;
  state_->ok = false;
  return Succeeded(Api()->FinishHash(state_->hash.Get(), digest, sizeof digest, 0));
}

bool ReleaseCryptoAvailable() {
  static const bool available = [] {
    Algorithm sha;
    Algorithm ecdsa;
    return OpenAlgorithm(Api(), BCRYPT_SHA256_ALGORITHM, sha) &&
           OpenAlgorithm(Api(), BCRYPT_ECDSA_P256_ALGORITHM, ecdsa);
  }();
  return available;
}

bool VerifyP256(const uint8_t (&key)[kP256KeyBytes], const void* data, std::size_t length,
                const uint8_t (&signature)[kP256SignatureBytes]) {
  uint8_t digest[kSha256Bytes];
  Sha256 sha;
  if (!sha.Update(data, length) || !sha.Finish(digest)) return false;

  const Bcrypt* api = Api();
  Algorithm algorithm;
  if (!OpenAlgorithm(api, BCRYPT_ECDSA_P256_ALGORITHM, algorithm)) return false;
  // The public key blob: its header, then X and Y.
  UCHAR blob[sizeof(BCRYPT_ECCKEY_BLOB) + kP256KeyBytes];
  BCRYPT_ECCKEY_BLOB header = {BCRYPT_ECDSA_PUBLIC_P256_MAGIC, kP256KeyBytes / 2};
  std::memcpy(blob, &header, sizeof header);
  std::memcpy(blob + sizeof header, key, kP256KeyBytes);
  Key publicKey;
  if (!Succeeded(api->ImportKeyPair(algorithm.Get(), nullptr, BCRYPT_ECCPUBLIC_BLOB,
                                    publicKey.Receive(), blob, sizeof blob, 0)))
    return false;
  UCHAR rs[kP256SignatureBytes];
  std::memcpy(rs, signature, sizeof rs);
  return api->VerifySignature(publicKey.Get(), nullptr, digest, sizeof digest, rs, sizeof rs, 0) ==
         0;
}

}  // namespace ul
