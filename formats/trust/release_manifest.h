// The signed release: a manifest that names every file a run may fetch,
// with its size and SHA-256, and a detached ECDSA P-256 signature over the
// manifest's bytes. The publisher's tool writes both; an updater built with
// the release key reads them and refuses anything that does not match.
//
// Manifest (text, '\n' after every line, nothing else):
//   ulmet-release 2
//   version 1004
//   config /UlLaunch/ULProgram.cfg        the roles: which server path the
//   list /Ulmet3/UpdateList.dat           program configuration must name
//   hash /Ulmet3/ULHashFile.dat           for each file it points to, and
//   installer /Ulmet3/Ulmet_install.exe   the folder of the update files
//   files /Ulmet3/files/                  (a value may be empty)
//   <size> <sha256, 64 lower-case hex> <server path>
//   ...
// A manifest of format 2 lies beside the directory file on the host the
// updater is built with, so that it is known before the directory file and
// the program configuration, which it records too. Format 1 ("ulmet-release
// 1", no role lines) is the manifest beside the update list that updaters
// built before the roles existed read; the tool still writes it for them.
// The server paths are normalised (NormalServerPath), in strictly ascending
// order of their bytes taken without sign, so each appears once. The path
// and a role's value are the rest of their line.
// Signature file: r||s as 128 lower-case hex characters, then '\n'.
// Public key (".pub", one line): "ulmet-p256-public <X||Y, 128 hex>".
//
// No Windows headers here: this builds natively for the sanitizer runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "formats/base/bounded.h"

namespace ul {

constexpr std::size_t kSha256Bytes = 32;
constexpr std::size_t kP256KeyBytes = 64;        // public key X||Y
constexpr std::size_t kP256PrivateBytes = 32;    // private scalar, the publisher's only
constexpr std::size_t kP256SignatureBytes = 64;  // r||s
// A manifest or signature longer than this is refused unread.
constexpr std::size_t kManifestMaxBytes = 16u << 20;

// Names of the two files of format 1, in the folder of the update list.
constexpr char kManifestName[] = "ULRelease.dat";
constexpr char kSignatureName[] = "ULRelease.sig";
// Names of the two files of format 2, in the folder of the directory file.
constexpr char kLaunchManifestName[] = "ULRelease2.dat";
constexpr char kLaunchSignatureName[] = "ULRelease2.sig";

constexpr int kLegacyFormat = 1;
constexpr int kRoleFormat = 2;

// Which server path fills which role in a run: the program configuration
// must name exactly these (its own path comes from the directory file).
struct ReleaseRoles {
  std::string programConfig;  // the directory file's record 5001
  std::string updateList;     // [UPDATELIST]
  std::string hashList;       // [FILEHASH]
  std::string installer;      // [INSTALLVERSION]
  std::string entryFolder;    // [UPDATESUBPATH], put in front of every entry
};

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

  int format = 0;  // kLegacyFormat or kRoleFormat once read
  int32_t version = 0;
  ReleaseRoles roles;              // format 2 only
  std::vector<ReleaseFile> files;  // ascending by path
};

// The manifest's text for version and files, in format 1 (roles null) or
// 2. Files are sorted here; false when a path is not normal
// (NormalServerPath gives another text) or appears twice, or a role's value
// has a control character or is too long.
bool FormatManifest(int32_t version, const ReleaseRoles* roles, std::vector<ReleaseFile> files,
                    std::string* out);

// The one spelling of a request path that the manifest records: '\' taken as
// '/', a leading '/', runs of '/' as one, "." components dropped. False for
// an empty result, a ".." component, a byte below 0x20 or 0x7F, or more than
// kTextCap - 1 characters.
bool NormalServerPath(const char* requestPath, std::string* out);

// The server paths of the format 1 manifest and its signature: beside the
// update list (its folder is everything up to the last '/' or '\'). False
// when they would not fit.
bool ReleaseFilePaths(const char* updateListPath, char (&manifest)[kTextCap],
                      char (&signature)[kTextCap]);

// The server paths of the format 2 manifest and its signature, beside the
// directory file ("/UlLaunch/ULRelease2.dat", ".sig").
void LaunchReleasePaths(char (&manifest)[kTextCap], char (&signature)[kTextCap]);

// A decimal number without sign or leading zero ("0" itself is fine), at
// most max.
bool ParseDecimal(const std::string& text, uint64_t max, uint64_t* value);

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
