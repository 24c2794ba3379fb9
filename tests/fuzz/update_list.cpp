// The update list reader over any bytes. The first two bytes give the
// installed version; the rest is the file. Besides memory safety: the
// entries are unique without regard to letter case, each is one non-empty
// word of at most 260 characters that passed the early refusal, a marker
// flag is raised only when the list holds the marker (the word that holds it
// may be longer than the 260 characters an entry keeps), and the highest
// version only rises above the installed one when something was taken. An
// entry that the gate lets through (as the worker hands it over: without its
// '-' or '=', '!' as a blank) lies inside the client folder.
#include "formats/lists/update_list.h"

#include <cstring>
#include <set>
#include <string>

#include "formats/base/safe_path.h"
#include "fuzz_support.h"

namespace {

constexpr char kClient[] = "C:\\Games\\Ulmet\\";

std::string Lower(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const int installed = (data[0] << 8 | data[1]) % 12000;
  fuzz::ByteStream in(data + 2, size - 2);
  UpdateFileList list;
  std::vector<UpdateWord> words;
  const bool ok = list.ReadListFile(in.get(), installed, &words) == kListRead;
  const std::string text(reinterpret_cast<const char*>(data + 2), size - 2);

  if (!ok) FUZZ_CHECK(list.entryCount == 0, text);
  std::set<std::string> seen;
  for (int i = 0; i < list.entryCount; ++i) {
    const std::string name = list.EntryAt(i);
    FUZZ_CHECK(!name.empty() && name.size() <= 260, name);
    FUZZ_CHECK(name.find_first_of(" \t\n\v\f\r") == std::string::npos, name);
    const char* bare = name.c_str() + (name[0] == '-' || name[0] == '=' ? 1 : 0);
    FUZZ_CHECK(ul::IsSafeRelativePath(bare) && UpdateEntryName(name.c_str()) == bare, name);
    FUZZ_CHECK(seen.insert(Lower(name)).second, name);
    // What the worker makes of it: the local name through the gate.
    char local[ul::kPathCap];
    LocalNameOf(bare, local);
    FUZZ_CHECK(std::strchr(local, '!') == nullptr && std::strlen(local) == std::strlen(bare), name);
    char path[ul::kPathCap];
    if (ul::ResolveInsideFolder(kClient, local, path)) {
      FUZZ_CHECK(
          std::strncmp(path, kClient, sizeof kClient - 1) == 0 && path[sizeof kClient - 1] != '\0',
          name + " => " + path);
    }
  }
  const std::string lower = Lower(text);
  FUZZ_CHECK(!list.selfUpdateMarked || lower.find("ulmet.ex_") != std::string::npos, text);
  FUZZ_CHECK(!list.majorUpdateMarked || lower.find("ulmet_install.exe") != std::string::npos, text);
  // Every name the list holds was offered as a word that was not refused.
  std::set<std::string> taken;
  for (const UpdateWord& w : words) {
    if (!w.refused) taken.insert(Lower(w.text.substr(0, 260)));
  }
  for (int i = 0; i < list.entryCount; ++i) FUZZ_CHECK(taken.count(Lower(list.EntryAt(i))) == 1, list.EntryAt(i));
  FUZZ_CHECK(list.maxVersion >= 1000, text);
  if (list.entryCount == 0) {
    FUZZ_CHECK(list.maxVersion == 1000, text);
  } else {
    FUZZ_CHECK(list.maxVersion > installed, text);
  }
  return 0;
}
