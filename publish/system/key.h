// Release key files. The public half is the updater's one-line ".pub"
// (formats/trust/release_manifest.h); the private half, ".key", is one line too:
//   ulmet-p256-private <private scalar, 64 hex> <X||Y, 128 hex>
// Both halves are kept in it so that signing can check them against each
// other and "keygen" output can be compared by eye with the ".pub".
#pragma once

#include <string>

#include "system/crypto.h"

namespace ulp {

std::string FormatPrivateKey(const KeyPair& key);
// With or without a line end ("\n" or "\r\n").
bool ParsePrivateKey(const std::string& text, KeyPair* key);

// The key files' reading, each with a message in error when it fails.
bool ReadPrivateKeyFile(const std::string& path, KeyPair* key, std::string* error);
bool ReadPublicKeyFile(const std::string& path, uint8_t (&key)[ul::kP256KeyBytes],
                       std::string* error);

// Writes bytes to a file that must not exist yet; secret: readable by its
// owner only (mode 0600 on Debian; on Windows the folder's permissions
// apply). key_posix.cpp, key_win.cpp.
bool WriteNewFile(const std::string& path, const std::string& bytes, bool secret,
                  std::string* error);

// The whole file (at most limit bytes).
bool ReadWholeFile(const std::string& path, std::size_t limit, std::string* bytes);

}  // namespace ulp
