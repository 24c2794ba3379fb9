// The path gate against a model of how Windows resolves a path, written
// here on its own. The folder comes from a small table with its canonical
// form written by hand; the name is any bytes. Whatever the input:
//  (a) a returned path starts with the canonical folder and '\', and the
//      folder's part that the gate reports is exactly that;
//  (b) it has at least one component after that (never the folder itself);
//  (c) resolved again by the model it stays itself: only '\', no empty,
//      "." or ".." component, no trailing dot or blank, no forbidden
//      character, no device name;
//  (d) it fits in 259 characters (MAX_PATH with its terminator);
//  (e) a refusal leaves out empty, and a smaller out buffer only refuses
//      when the path does not fit;
//  (f) the returned path is where Windows puts the name;
//  (g) a name that the model finds plainly good (and that is not an edge
//      where Windows versions differ) is not refused.
#include "formats/base/safe_path.h"

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_support.h"

namespace {

#define UL_TEN(c) c c c c c c c c c c
const char kLongFolder[] =
    "C:\\" UL_TEN(UL_TEN("a")) UL_TEN("a") "\\" UL_TEN(UL_TEN("b")) UL_TEN("b") "bbbbbbbbbbbbbbbb";
static_assert(sizeof kLongFolder - 1 == 240, "long folder");

struct Folder {
  const char* given;
  const char* canonical;  // nullptr: the gate must refuse every name
};

const Folder kFolders[] = {
    {"C:\\Games\\Ulmet\\", "C:\\Games\\Ulmet"},
    {"C:\\Games\\Ulmet", "C:\\Games\\Ulmet"},
    {"c:/Games//Ulmet/", "c:\\Games\\Ulmet"},
    {"C:\\", "C:"},
    {"\\\\server\\share", "\\\\server\\share"},
    {"\\\\server\\share\\Ulmet\\", "\\\\server\\share\\Ulmet"},
    {"C:\\Games\\Old\\..\\Ulmet\\", "C:\\Games\\Ulmet"},
    {"C:\\Program Files\\Ulmet. \\", "C:\\Program Files\\Ulmet"},
    {"D:\\.\\Ulmet\\.\\", "D:\\Ulmet"},
    {"C:\\\xB0\xD4\xC0\xD3\\Ulmet", "C:\\\xB0\xD4\xC0\xD3\\Ulmet"},  // a Hangul folder name
    {kLongFolder, kLongFolder},     // leaves 20 characters for the name
    {"Games\\Ulmet", nullptr},      // relative
    {"C:Games", nullptr},           // relative to the drive's current folder
    {"\\\\?\\C:\\Games", nullptr},  // device paths
    {"\\\\.\\C:\\Games", nullptr},
    {"\\\\server", nullptr},  // a server without a share
    {"C:\\Games\\..\\..", nullptr},
    {"C:\\Games\\NUL\\", nullptr},
    {"C:\\Ga*mes", nullptr},
    {"", nullptr},
};
constexpr std::size_t kFolderCount = sizeof kFolders / sizeof kFolders[0];

enum class Verdict {
  kClean,
  kEscapes,
  kFolderItself,
  kDotsAndBlanks,
  kForbidden,
  kDevice,
  kTooLong
};

struct Resolution {
  Verdict verdict = Verdict::kClean;
  bool edge = false;  // a name that Windows versions read differently
  std::string path;
};

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

std::string Upper(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  }
  return s;
}

// Windows opens these as devices in every folder, whatever follows the
// first dot. COM and LPT take the digits 1 to 9 and the superscripts one,
// two and three (in code page 949 the bytes A9 F6, A9 F7, A9 F8). Edges:
// COM0/LPT0, which the documentation lists but which are not opened as
// devices; the superscripts' single bytes of code page 1252 (in 949 a lead
// byte on its own); blanks in front of the name.
bool IsDevice(const std::string& component, bool* edge) {
  std::string base = component.substr(0, component.find('.'));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  std::size_t lead = 0;
  while (lead < base.size() && base[lead] == ' ') ++lead;
  const std::string upper = Upper(base.substr(lead));
  bool device = upper == "CON" || upper == "PRN" || upper == "AUX" || upper == "NUL" ||
                upper == "CONIN$" || upper == "CONOUT$";
  bool edgeForm = false;
  const std::string stem = upper.substr(0, 3);
  if (stem == "COM" || stem == "LPT") {
    const std::string digit = upper.substr(3);
    if (digit.size() == 1 && digit[0] >= '1' && digit[0] <= '9') device = true;
    if (digit == "\xA9\xF6" || digit == "\xA9\xF7" || digit == "\xA9\xF8") device = true;
    if (digit == "0" || digit == "\xB9" || digit == "\xB2" || digit == "\xB3") edgeForm = true;
  }
  if (lead > 0 && device) {
    edgeForm = true;
    device = false;
  }
  *edge = *edge || edgeForm;
  return device;
}

bool IsForbidden(unsigned char c) { return c < 0x20 || std::strchr("<>:\"|?*", c) != nullptr; }

// folder (canonical) + '\' + name as Windows resolves it. Every component
// is looked at, also those that a later ".." takes back.
Resolution Resolve(const std::string& folder, const std::string& name) {
  Resolution r;
  std::vector<std::string> below;
  std::size_t i = 0;
  while (i < name.size()) {
    if (IsSeparator(name[i])) {
      ++i;
      continue;
    }
    std::size_t end = i;
    while (end < name.size() && !IsSeparator(name[end])) ++end;
    const std::string component = name.substr(i, end - i);
    i = end;
    if (component == ".") continue;
    if (component == "..") {
      if (below.empty()) return {Verdict::kEscapes, r.edge, ""};
      below.pop_back();
      continue;
    }
    std::string kept = component;
    while (!kept.empty() && (kept.back() == '.' || kept.back() == ' ')) kept.pop_back();
    if (kept.empty()) return {Verdict::kDotsAndBlanks, r.edge, ""};
    for (unsigned char c : component) {
      if (IsForbidden(c)) return {Verdict::kForbidden, r.edge, ""};
    }
    if (IsDevice(kept, &r.edge)) return {Verdict::kDevice, r.edge, ""};
    below.push_back(kept);
  }
  if (below.empty()) return {Verdict::kFolderItself, r.edge, ""};
  r.path = folder;
  for (const std::string& c : below) r.path += "\\" + c;
  if (r.path.size() > 259) return {Verdict::kTooLong, r.edge, ""};
  return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const Folder& folder = kFolders[data[0] % kFolderCount];
  const std::size_t smallCap = 1 + data[1] % 300;
  const std::string name = fuzz::TextOf(data + 2, size - 2);
  const std::string what = std::string(folder.given) + " | " + name;

  char out[261];
  std::memset(out, 'Z', sizeof out);
  std::size_t folderLength = 12345;
  const bool ok =
      ul::ResolveInsideFolder(folder.given, name.c_str(), out, sizeof out, &folderLength);
  if (!ok) FUZZ_CHECK(out[0] == '\0', what);  // (e)

  std::unique_ptr<char[]> small(new char[smallCap]);
  const bool smallOk = ul::ResolveInsideFolder(folder.given, name.c_str(), small.get(), smallCap);
  if (!smallOk) FUZZ_CHECK(small[0] == '\0', what);
  if (smallOk) FUZZ_CHECK(ok && std::strcmp(small.get(), out) == 0, what);
  if (ok && std::strlen(out) < smallCap) FUZZ_CHECK(smallOk, what);

  if (folder.canonical == nullptr) {
    FUZZ_CHECK(!ok, what + " => " + out);
    return 0;
  }
  const std::string canonical = folder.canonical;
  const Resolution model = Resolve(canonical, name);
  if (ok) {
    const std::string path = out;
    FUZZ_CHECK(path.compare(0, canonical.size() + 1, canonical + "\\") == 0 &&
                   folderLength == canonical.size() + 1,
               what + " => " + path);  // (a)
    const std::string rest = path.substr(canonical.size() + 1);
    FUZZ_CHECK(!rest.empty(), what + " => " + path);  // (b)
    const Resolution again = Resolve(canonical, rest);
    FUZZ_CHECK(rest.find('/') == std::string::npos && rest.find("\\\\") == std::string::npos &&
                   rest.back() != '\\' && again.verdict == Verdict::kClean && again.path == path,
               what + " => " + path);                      // (c)
    FUZZ_CHECK(path.size() <= 259, what + " => " + path);  // (d)
    FUZZ_CHECK(model.verdict == Verdict::kClean && model.path == path,
               what + " => " + path + " (Windows: " + model.path + ")");  // (f)
  } else if (model.verdict == Verdict::kClean && !model.edge &&
             canonical.size() + 1 + name.size() <= 259) {
    FUZZ_CHECK(false, what + " refused (Windows: " + model.path + ")");  // (g)
  }
  return 0;
}
