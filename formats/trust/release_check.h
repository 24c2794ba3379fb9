// The checks of a build with a release key: the manifest's signature, its
// version against the installed one, the program configuration's paths
// against the roles the release binds, and a fetched file against its
// record. The run shows the refusal codes as "code-SGnn".
//
// No Windows headers here: this builds natively too (the hashing and the
// signature check come from release_crypto.h).
#pragma once

#include <cstdint>
#include <string>

#include "formats/trust/release_manifest.h"

namespace ul {

// Why a run must not go on; 0 when it may.
constexpr int kReleaseMissing = 1;       // the manifest or its signature could not be fetched
constexpr int kReleaseBadSignature = 2;  // not signed by the release key, or unreadable
constexpr int kReleaseListDiffers = 3;   // a configuration file or list is not the signed one, or
                                         // the configuration names another file for a role
constexpr int kReleaseOlder = 4;         // older than the installed version (an old release replayed)
constexpr int kReleaseNoCrypto = 5;      // this system cannot check signatures

// Checks manifest (its bytes as fetched) and signature (the signature file's
// bytes) against the public key line keyText, then reads the manifest into
// out, which must be of format (kLegacyFormat or kRoleFormat). A release
// older than oldestAccepted is refused (kReleaseOlder); below 0 accepts
// any. 0 when the run may go on; otherwise the refusal's code, and why
// (when given) says it in words.
int CheckRelease(const char* keyText, const std::string& manifest, const std::string& signature,
                 int format, int32_t oldestAccepted, ReleaseManifest* out, std::string* why = nullptr);

// kReleaseOlder when m is older than oldestAccepted, else 0; below 0
// accepts any. why as for CheckRelease.
int CheckReleaseVersion(const ReleaseManifest& m, int32_t oldestAccepted, std::string* why = nullptr);

// Reads a stream of bytes for Sha256Read: up to cap bytes into buffer,
// *got 0 at the end; false on a read error.
using ByteReader = bool (*)(void* source, char* buffer, std::size_t cap, std::size_t* got);

// Size and SHA-256 of everything read from source. False when a read fails
// or the system cannot hash.
bool Sha256Read(ByteReader read, void* source, uint8_t (&digest)[kSha256Bytes], uint64_t* size);

// Size and SHA-256 of the file at path. False when it cannot be read whole.
bool Sha256File(const char* path, uint8_t (&digest)[kSha256Bytes], uint64_t* size);

// True when record is what a fetch delivered: its size and digest.
bool MatchesRecord(const ReleaseFile& record, uint64_t size, const uint8_t (&digest)[kSha256Bytes]);

// True when the file at localPath is what the manifest records for the
// request serverPath; false when it is not listed or differs (why, when
// given, says which).
bool FileMatchesRelease(const ReleaseManifest& manifest, const char* serverPath, const char* localPath,
                        std::string* why = nullptr);

}  // namespace ul
