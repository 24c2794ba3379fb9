// The program configuration reader over any bytes. The first byte chooses
// the run's Vista flag and which registry keys exist; the rest is the file.
// Besides memory safety: the mode and hive stay in their ranges, no text
// field keeps a line feed, and the client's registry key is always one that
// the key check confirmed in the hive it was asked about.
#include "formats/lists/program_config.h"

#include <cstring>
#include <set>
#include <string>
#include <utility>

#include "fuzz_support.h"

namespace {

int keySalt = 0;
std::set<std::pair<std::string, int>> confirmed;

// Whether a key "exists": decided by the path's bytes and the salt, so that
// some keys exist and others not, the same way every time.
bool FakeKeyExists(const char* path, const char* subPath, int hive) {
  FUZZ_CHECK(subPath == nullptr, path);
  FUZZ_CHECK(hive == 1 || hive == 2, path);
  unsigned sum = static_cast<unsigned>(keySalt);
  for (const char* p = path; *p; ++p) sum = sum * 31 + static_cast<unsigned char>(*p);
  const bool exists = (sum & 3) != 0;
  if (exists) confirmed.insert({path, hive});
  return exists;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t control = data[0];
  fuzz::ByteStream in(data + 1, size - 1);
  ProgramConfig config;
  const bool isVista = (control & 1) != 0;
  keySalt = control >> 2;
  confirmed.clear();
  const bool withCheck = (control & 2) != 0;
  const bool ok = ParseProgramConfig(in.get(), isVista, withCheck ? &FakeKeyExists : nullptr, &config);
  (void)ok;

  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  FUZZ_CHECK(config.checkupMode >= 0 && config.checkupMode <= 2, text);
  FUZZ_CHECK(config.registryHive == 1 || config.registryHive == 2, text);
  if (isVista) FUZZ_CHECK(config.registryHive == 1, text);
  FUZZ_CHECK(config.crashReportEnabled <= 1, text);
  for (const char* field : {config.updateSubPath, config.updateListPath, config.checkupNotice,
                            config.registryPath, config.registryNewPath, config.clientRegistryKey,
                            config.updaterPathValueName, config.crashReportHost,
                            config.crashReportPath, config.installerPath, config.hashListPath,
                            config.chunkListPath}) {
    FUZZ_CHECK(std::strchr(field, '\n') == nullptr, text);
  }
  // "[PACE]": every value within its range, digest reads whole 32 KB chunks.
  const Pace& pace = config.pace;
  FUZZ_CHECK(pace.downloadBytes >= 4096 && pace.downloadBytes <= kPaceDownloadMaxBytes, text);
  FUZZ_CHECK(pace.digestBytes >= 32768 && pace.digestBytes <= kPaceDigestMaxBytes && pace.digestBytes % 32768 == 0,
             text);
  FUZZ_CHECK(pace.rereadMs <= kPaceRereadMaxMs, text);
  FUZZ_CHECK(pace.given || (pace.downloadBytes == 4096 && pace.digestBytes == 32768 && pace.rereadMs == 0), text);
  if (config.clientRegistryKey[0] != '\0') {
    bool seen = false;
    for (const auto& key : confirmed) seen = seen || key.first == config.clientRegistryKey;
    FUZZ_CHECK(withCheck && seen, text);
  }
  return 0;
}
