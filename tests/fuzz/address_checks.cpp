// The two checks that stand between a text from outside and the shell or
// the disk: the notice address (from the server) and the user data folder
// (from the registry). Whatever the bytes:
//  - an address that passes starts with "http://" or "https://" in any case,
//    has something after it, and holds no blank, double quote or control
//    character (any of those could add arguments to the browser's command
//    line);
//  - a folder that passes is absolute, and never one that the path gate
//    resolves to a bare drive or share root (UserData would land there).
#include <cctype>
#include <cstring>
#include <string>

#include "formats/base/bounded.h"
#include "formats/base/safe_path.h"
#include "formats/base/web_address.h"
#include "fuzz_support.h"
#include "removal/data_folder.h"

namespace {

bool StartsNoCase(const std::string& text, const char* prefix) {
  const std::size_t n = std::strlen(prefix);
  if (text.size() < n) return false;
  for (std::size_t i = 0; i < n; ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
  }
  return true;
}

void CheckAddress(const std::string& text) {
  if (!ul::IsWebAddress(text.c_str())) return;
  const std::size_t scheme = StartsNoCase(text, "http://") ? 7 : StartsNoCase(text, "https://") ? 8 : 0;
  FUZZ_CHECK(scheme != 0 && text.size() > scheme, fuzz::Shown(text));
  for (unsigned char c : text) {
    FUZZ_CHECK(c >= 0x20 && c != 0x7F && c != ' ' && c != '"', fuzz::Shown(text));
  }
}

// True when the folder part of a path that the gate wrote is a bare root:
// "X:\" or "\\server\share\".
bool IsBareRoot(const char* path, std::size_t folderLength) {
  if (folderLength == 3 && path[1] == ':') return true;
  if (folderLength < 2 || path[0] != '\\' || path[1] != '\\') return false;
  int separators = 0;
  for (std::size_t i = 0; i < folderLength; ++i) separators += path[i] == '\\';
  return separators == 4;
}

void CheckFolder(const std::string& folder) {
  const bool below = ul::IsBelowRoot(folder.c_str());
  if (!below) return;
  const bool drive = folder.size() >= 3 && std::isalpha(static_cast<unsigned char>(folder[0])) &&
                     folder[1] == ':' && (folder[2] == '\\' || folder[2] == '/');
  const bool share = folder.size() >= 2 && (folder[0] == '\\' || folder[0] == '/') &&
                     (folder[1] == '\\' || folder[1] == '/');
  FUZZ_CHECK(drive || share, fuzz::Shown(folder));
  char out[ul::kPathCap];
  std::size_t folderLength = 0;
  if (ul::ResolveInsideFolder(folder.c_str(), "UserData", out, &folderLength)) {
    FUZZ_CHECK(!IsBareRoot(out, folderLength), fuzz::Shown(folder) + " => " + out);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string text = fuzz::TextOf(data, size);
  CheckAddress(text);
  CheckFolder(text);
  return 0;
}
