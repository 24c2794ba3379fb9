// The publisher's settings reader over any bytes (a settings file edited by
// hand, or from a tree copied from elsewhere). Besides memory safety:
// accepted settings keep their values in range, their server paths
// absolute and the chunk list's folder apart from every other file, and
// written back they read back the same, text for text.
#include "tree/settings.h"

#include <string>

#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  ulp::Settings s;
  std::string error;
  if (!ulp::ParseSettings(text, &s, &error)) {
    FUZZ_CHECK(!error.empty(), fuzz::Shown(text));
    return 0;
  }
  FUZZ_CHECK(s.version >= ulp::kFirstVersion && s.port >= 1 && s.port <= 65535 && !s.host.empty(),
             fuzz::Shown(text));
  for (const std::string* p : {&s.paths.programConfig, &s.paths.updateList, &s.paths.files, &s.paths.hashList,
                               &s.paths.installer}) {
    FUZZ_CHECK(!p->empty() && (*p)[0] == '/', fuzz::Shown(text));
  }
  // A chunk list and a patch list lie in folders of their own, away from
  // every other file.
  FUZZ_CHECK(s.paths.chunkList.empty() || s.paths.chunkList[0] == '/', fuzz::Shown(text));
  FUZZ_CHECK(s.paths.patchList.empty() || s.paths.patchList[0] == '/', fuzz::Shown(text));
  FUZZ_CHECK(ulp::ListFolderProblem(s.paths).empty(), fuzz::Shown(text));
  FUZZ_CHECK(s.chunkIndexFrom >= 1, fuzz::Shown(text));
  const std::string written = ulp::SettingsText(s);
  ulp::Settings again;
  FUZZ_CHECK(ulp::ParseSettings(written, &again, &error), error + ": " + fuzz::Shown(written));
  FUZZ_CHECK(ulp::SettingsText(again) == written, fuzz::Shown(written));
  return 0;
}
