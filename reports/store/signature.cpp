#include "store/signature.h"

#include <openssl/sha.h>

namespace ulr {

namespace {

void Append(std::string* key, std::string_view value, bool lowerCase, bool upperCase) {
  *key += std::to_string(value.size());
  *key += ':';
  for (char c : value) {
    if (lowerCase && c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (upperCase && c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    *key += c;
  }
}

}  // namespace

std::string SignatureKey(const ReportForm& form) {
  std::string key;
  Append(&key, form.fmod, true, false);
  Append(&key, form.fadd, false, true);
  Append(&key, form.lmod, true, false);
  Append(&key, form.ladd, false, true);
  return key;
}

std::int64_t SignatureId(const std::string& key) {
  unsigned char digest[SHA256_DIGEST_LENGTH];
  SHA256(reinterpret_cast<const unsigned char*>(key.data()), key.size(), digest);
  std::uint64_t id = 0;
  for (int i = 0; i < 8; ++i) id = id << 8 | digest[i];
  return static_cast<std::int64_t>(id >> 1);
}

std::string ClientVersion(std::string_view ver) {
  std::size_t end = ver.size();
  while (end > 0 && (ver[end - 1] == '\n' || ver[end - 1] == '\r' || ver[end - 1] == ' ' || ver[end - 1] == '\t'))
    --end;
  return std::string(ver.substr(0, end));
}

bool OlderVersion(const std::string& a, const std::string& b) {
  const auto number = [](const std::string& v) {
    return !v.empty() && v.size() < 19 && v.find_first_not_of("0123456789") == std::string::npos;
  };
  if (number(a) && number(b)) return std::stoll(a) < std::stoll(b);
  return a < b;
}

}  // namespace ulr
