#include "system/key.h"

#include <cstdio>

namespace {
const char kPrivateWord[] = "ulmet-p256-private ";
constexpr std::size_t kKeyFileLimit = 4096;
}  // namespace

std::string ulp::FormatPrivateKey(const KeyPair& key) {
  return kPrivateWord + ul::Hex(key.privateKey, ul::kP256PrivateBytes) + " " +
         ul::Hex(key.publicKey, ul::kP256KeyBytes) + "\n";
}

bool ulp::ParsePrivateKey(const std::string& text, KeyPair* key) {
  std::string t = text;
  if (!t.empty() && t.back() == '\n') t.pop_back();
  if (!t.empty() && t.back() == '\r') t.pop_back();
  const std::size_t word = sizeof kPrivateWord - 1;
  const std::size_t blank = word + 2 * ul::kP256PrivateBytes;
  return t.size() == blank + 1 + 2 * ul::kP256KeyBytes && t.compare(0, word, kPrivateWord) == 0 &&
         t[blank] == ' ' && ul::ParseHex(t.data() + word, blank - word, key->privateKey, ul::kP256PrivateBytes) &&
         ul::ParseHex(t.data() + blank + 1, 2 * ul::kP256KeyBytes, key->publicKey, ul::kP256KeyBytes);
}

bool ulp::ReadWholeFile(const std::string& path, std::size_t limit, std::string* bytes) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  bytes->clear();
  char buffer[65536];
  std::size_t n;
  bool ok = true;
  while (ok && (n = std::fread(buffer, 1, sizeof buffer, f)) > 0) {
    bytes->append(buffer, n);
    ok = bytes->size() <= limit;
  }
  ok = ok && !std::ferror(f);
  std::fclose(f);
  return ok;
}

bool ulp::ReadPrivateKeyFile(const std::string& path, KeyPair* key, std::string* error) {
  std::string text;
  if (!ReadWholeFile(path, kKeyFileLimit, &text)) {
    *error = "cannot read the private key " + path;
    return false;
  }
  if (!ParsePrivateKey(text, key)) {
    *error = path + " is not a private key made by 'ulmet-publish keygen'";
    return false;
  }
  return true;
}

bool ulp::ReadPublicKeyFile(const std::string& path, uint8_t (&key)[ul::kP256KeyBytes],
                            std::string* error) {
  std::string text;
  if (!ReadWholeFile(path, kKeyFileLimit, &text)) {
    *error = "cannot read the public key " + path;
    return false;
  }
  if (!ul::ParsePublicKey(text, key)) {
    *error = path + " is not a public key made by 'ulmet-publish keygen'";
    return false;
  }
  return true;
}
