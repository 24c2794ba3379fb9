// The checks of a build with a release key: the manifest's signature, its
// version against the installed one, and a fetched file against its record.
// The run shows the refusal codes as "code-SGnn".
//
// No Windows headers here: this builds natively too (the hashing and the
// signature check come from release_crypto.h).
#pragma once

#include <cstdint>
#include <string>

#include "config/release_manifest.h"

namespace ul {

// Why a run must not go on; 0 when it may.
constexpr int kReleaseMissing = 1;       // the manifest or its signature could not be fetched
constexpr int kReleaseBadSignature = 2;  // not signed by the release key, or unreadable
constexpr int kReleaseListDiffers = 3;   // the update list or hash list is not the signed one
constexpr int kReleaseOlder = 4;         // older than the installed version (an old release replayed)
constexpr int kReleaseNoCrypto = 5;      // this system cannot check signatures

// Checks manifest (its bytes as fetched) and signature (the signature file's
// bytes) against the public key line keyText, then reads the manifest into
// out. installedVersion is the installed "AppVersion", below 0 when none is
// installed. 0 when the run may go on.
int CheckRelease(const char* keyText, const std::string& manifest, const std::string& signature,
                 int32_t installedVersion, ReleaseManifest* out);

// Size and SHA-256 of the file at path. False when it cannot be read whole.
bool Sha256File(const char* path, uint8_t (&digest)[kSha256Bytes], uint64_t* size);

// True when record is what a fetch delivered: its size and digest.
bool MatchesRecord(const ReleaseFile& record, uint64_t size, const uint8_t (&digest)[kSha256Bytes]);

// True when the file at localPath is what the manifest records for the
// request serverPath; false (traced) when it is not listed or differs.
bool FileMatchesRelease(const ReleaseManifest& manifest, const char* serverPath,
                        const char* localPath);

}  // namespace ul
