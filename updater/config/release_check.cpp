#include "config/release_check.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "common/trace.h"
#include "config/release_crypto.h"

namespace ul {

int CheckRelease(const char* keyText, const std::string& manifest, const std::string& signature,
                 int format, int32_t oldestAccepted, ReleaseManifest* out) {
  out->Parse(nullptr, 0);
  if (!ReleaseCryptoAvailable()) {
    DebugTrace("Release check: this system cannot check signatures");
    return kReleaseNoCrypto;
  }
  uint8_t key[kP256KeyBytes];
  uint8_t rs[kP256SignatureBytes];
  if (!ParsePublicKey(keyText, key)) {
    DebugTrace("Release check: the built-in release key is unreadable");
    return kReleaseBadSignature;
  }
  if (!ParseSignature(signature, rs) || manifest.size() > kManifestMaxBytes ||
      !VerifyP256(key, manifest.data(), manifest.size(), rs)) {
    DebugTrace("Release check: the manifest is not signed by the release key");
    return kReleaseBadSignature;
  }
  if (!out->Parse(manifest.data(), manifest.size()) || out->format != format) {
    DebugTrace("Release check: the signed manifest is unreadable");
    out->Parse(nullptr, 0);
    return kReleaseBadSignature;
  }
  if (CheckReleaseVersion(*out, oldestAccepted) != 0) {
    out->Parse(nullptr, 0);
    return kReleaseOlder;
  }
  DebugTrace("Release check: release %d signed, %u files", out->version,
             static_cast<unsigned>(out->files.size()));
  return 0;
}

int CheckReleaseVersion(const ReleaseManifest& m, int32_t oldestAccepted) {
  if (oldestAccepted < 0 || m.version >= oldestAccepted) return 0;
  DebugTrace("Release check: release %d is older than %d, which this computer has had", m.version,
             oldestAccepted);
  return kReleaseOlder;
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

bool FileMatchesRelease(const ReleaseManifest& manifest, const char* serverPath,
                        const char* localPath) {
  const ReleaseFile* record = manifest.Find(serverPath);
  if (record == nullptr) {
    DebugTrace("Release check: %s is not in the signed release", serverPath);
    return false;
  }
  uint8_t digest[kSha256Bytes];
  uint64_t size = 0;
  if (!Sha256File(localPath, digest, &size) || !MatchesRecord(*record, size, digest)) {
    DebugTrace("Release check: %s differs from the signed release", serverPath);
    return false;
  }
  return true;
}

}  // namespace ul
