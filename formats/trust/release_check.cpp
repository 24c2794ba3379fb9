#include "formats/trust/release_check.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "formats/trust/release_crypto.h"

namespace ul {

namespace {

int Refuse(int code, std::string* why, const std::string& reason) {
  if (why != nullptr) *why = reason;
  return code;
}

}  // namespace

int CheckRelease(const char* keyText, const std::string& manifest, const std::string& signature,
                 int format, int32_t oldestAccepted, ReleaseManifest* out, std::string* why) {
  out->Parse(nullptr, 0);
  if (!ReleaseCryptoAvailable()) return Refuse(kReleaseNoCrypto, why, "this system cannot check signatures");
  uint8_t key[kP256KeyBytes];
  uint8_t rs[kP256SignatureBytes];
  if (!ParsePublicKey(keyText, key))
    return Refuse(kReleaseBadSignature, why, "the built-in release key is unreadable");
  if (!ParseSignature(signature, rs) || manifest.size() > kManifestMaxBytes ||
      !VerifyP256(key, manifest.data(), manifest.size(), rs))
    return Refuse(kReleaseBadSignature, why, "the manifest is not signed by the release key");
  if (!out->Parse(manifest.data(), manifest.size()) || out->format != format) {
    out->Parse(nullptr, 0);
    return Refuse(kReleaseBadSignature, why, "the signed manifest is unreadable");
  }
  if (CheckReleaseVersion(*out, oldestAccepted, why) != 0) {
    out->Parse(nullptr, 0);
    return kReleaseOlder;
  }
  return 0;
}

int CheckReleaseVersion(const ReleaseManifest& m, int32_t oldestAccepted, std::string* why) {
  if (oldestAccepted < 0 || m.version >= oldestAccepted) return 0;
  return Refuse(kReleaseOlder, why,
                "release " + std::to_string(m.version) + " is older than " + std::to_string(oldestAccepted) +
                    ", which this computer has had");
}

bool Sha256Read(ByteReader read, void* source, uint8_t (&digest)[kSha256Bytes], uint64_t* size) {
  Sha256 sha;
  std::vector<char> buffer(65536);
  uint64_t total = 0;
  std::size_t n = 0;
  bool ok = true;
  while ((ok = read(source, buffer.data(), buffer.size(), &n)) && n > 0) {
    if (!sha.Update(buffer.data(), n)) ok = false;
    total += n;
    if (!ok) break;
  }
  *size = total;
  return ok && sha.Finish(digest);
}

namespace {
bool ReadStdio(void* source, char* buffer, std::size_t cap, std::size_t* got) {
  std::FILE* f = static_cast<std::FILE*>(source);
  *got = std::fread(buffer, 1, cap, f);
  return !std::ferror(f);
}
}  // namespace

bool Sha256File(const char* path, uint8_t (&digest)[kSha256Bytes], uint64_t* size) {
  std::FILE* f = std::fopen(path, "rb");
  if (f == nullptr) return false;
  const bool ok = Sha256Read(ReadStdio, f, digest, size);
  std::fclose(f);
  return ok;
}

bool MatchesRecord(const ReleaseFile& record, uint64_t size, const uint8_t (&digest)[kSha256Bytes]) {
  return record.size == size && std::memcmp(record.sha256, digest, kSha256Bytes) == 0;
}

bool FileMatchesRelease(const ReleaseManifest& manifest, const char* serverPath, const char* localPath,
                        std::string* why) {
  const ReleaseFile* record = manifest.Find(serverPath);
  if (record == nullptr) return Refuse(0, why, std::string(serverPath) + " is not in the signed release");
  uint8_t digest[kSha256Bytes];
  uint64_t size = 0;
  if (!Sha256File(localPath, digest, &size) || !MatchesRecord(*record, size, digest))
    return Refuse(0, why, std::string(serverPath) + " differs from the signed release");
  return true;
}

}  // namespace ul
