// The signed release: a manifest that names every file a run may fetch,
// with its size and SHA-256, and a detached ECDSA P-256 signature over the
// manifest's bytes. The publisher's tool writes both; an updater built with
// the release key reads them and refuses anything that does not match.
//
// Manifest (text, '\n' after every line, nothing else):
//   ulmet-release 1
//   version 1004
//   <size> <sha256, 64 lower-case hex> <server path>
//   ...
// The server paths are normalised (NormalServerPath), in strictly ascending
// order of their bytes taken without sign, so each appears once. The path is
// the rest of its line.
// Signature file: r||s as 128 lower-case hex characters, then '\n'.
// Public key (".pub", one line): "ulmet-p256-public <X||Y, 128 hex>".
//
// No Windows headers here: this builds natively for the sanitizer runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/bounded.h"

namespace ul {

constexpr std::size_t kSha256Bytes = 32;
constexpr std::size_t kP256KeyBytes = 64;        // public key X||Y
constexpr std::size_t kP256SignatureBytes = 64;  // r||s
// A manifest or signature longer than this is refused unread.
constexpr std::size_t kManifestMaxBytes = 16u << 20;

// Names of the two files, in the folder of the update list.
constexpr char kManifestName[] = "ULRelease.dat";
constexpr char kSignatureName[] = "ULRelease.sig";

struct ReleaseFile {
  std::string path;  // normalised server path
  uint64_t size = 0;
  uint8_t sha256[kSha256Bytes] = {0};
};

class ReleaseManifest {
 public:
  // Reads a manifest; false, and the object empty, unless all of it is well
  // formed.
  bool Parse(const char* data, std::size_t size);

  // The record of the file that a request for serverPath fetches (any
  // spelling that NormalServerPath gives the same path); null when the
  // manifest does not list it or the path is not acceptable.
  const ReleaseFile* Find(const char* serverPath) const;

  int32_t version = 0;
  std::vector<ReleaseFile> files;  // ascending by path
};

// The manifest's text for version and files. Files are sorted here; false
// when a path is not normal (NormalServerPath gives another text) or
// appears twice.
bool FormatManifest(int32_t version, std::vector<ReleaseFile> files, std::string* out);

// The one spelling of a request path that the manifest records: '\' taken as
// '/', a leading '/', runs of '/' as one, "." components dropped. False for
// an empty result, a ".." component, a byte below 0x20 or 0x7F, or more than
// kTextCap - 1 characters.
bool NormalServerPath(const char* requestPath, std::string* out);

// The server paths of the manifest and its signature: beside the update
// list (its folder is everything up to the last '/' or '\'). False when
// they would not fit.
bool ReleaseFilePaths(const char* updateListPath, char (&manifest)[kTextCap],
                      char (&signature)[kTextCap]);

// Exactly 2 * n hexadecimal characters (either case) into n bytes.
bool ParseHex(const char* text, std::size_t length, uint8_t* out, std::size_t n);
std::string Hex(const uint8_t* data, std::size_t n);

// The public key line, with or without a line end ("\n" or "\r\n").
bool ParsePublicKey(const std::string& text, uint8_t (&key)[kP256KeyBytes]);
std::string FormatPublicKey(const uint8_t (&key)[kP256KeyBytes]);

// The signature file (a final "\n" optional on reading).
bool ParseSignature(const std::string& text, uint8_t (&signature)[kP256SignatureBytes]);
std::string FormatSignature(const uint8_t (&signature)[kP256SignatureBytes]);

}  // namespace ul
