#include "formats/lists/program_config.h"

#include <cstring>
#include <string>

#include "formats/base/text_line.h"
#include "formats/lists/directory_file.h"

namespace {

enum class Section {
  kNone,
  kInstanceNumber,
  kPatchwell,
  kUpdateSubPath,
  kUpdateList,
  kCheckup,
  kCheckupNotice,
  kRegistry,
  kRegistryUlmetPath,
  kRegistryNewPath,
  kRegistryPath,
  kRegistryKey,
  kException,
  kExceptionHost,
  kExceptionPath,
  kInstallVersion,
  kFileHash,
  kChunkList,
  kPatchList,
  kVerifiedState,
  kPace,
};

struct SectionName {
  const char* header;
  Section section;
};

const SectionName kSections[] = {
    {"[INSTANCENUMBER]", Section::kInstanceNumber},
    {"[PATCHWELL]", Section::kPatchwell},
    {"[UPDATESUBPATH]", Section::kUpdateSubPath},
    {"[UPDATELIST]", Section::kUpdateList},
    {"[CHECKUP]", Section::kCheckup},
    {"[CHECKUPNOTICE]", Section::kCheckupNotice},
    {"[REGISTRY]", Section::kRegistry},
    {"[REGISTRYULMETPATH]", Section::kRegistryUlmetPath},
    {"[REGISTRYNEWPATH]", Section::kRegistryNewPath},
    {"[REGISTRYPATH]", Section::kRegistryPath},
    {"[REGISTRYKEY]", Section::kRegistryKey},
    {"[EXCEPTION]", Section::kException},
    {"[EXCEPTIONHOST]", Section::kExceptionHost},
    {"[EXCEPTIONPATH]", Section::kExceptionPath},
    {"[INSTALLVERSION]", Section::kInstallVersion},
    {"[FILEHASH]", Section::kFileHash},
    {"[CHUNKLIST]", Section::kChunkList},
    {"[PATCHLIST]", Section::kPatchList},
    // Older updaters do not know it and pass over both of its lines.
    {"[VERIFIEDSTATE]", Section::kVerifiedState},
    {"[PACE]", Section::kPace},
};

// Headers are compared exactly and case-sensitively, without their line feed.
Section FindSection(const char* line) {
  char header[ul::kLineCap];
  ul::Copy(header, line);
  ul::StripNewline(header);
  for (const SectionName& s : kSections) {
    if (std::strcmp(header, s.header) == 0) return s.section;
  }
  return Section::kNone;
}

bool KeyExists(RegistryKeyCheck keyExists, const char* path, int hive) {
  return keyExists != nullptr && keyExists(path, nullptr, hive);
}

// Sections whose value is stored as it stands.
struct TextSection {
  Section section;
  char (ProgramConfig::*field)[ul::kTextCap];
};
const TextSection kTextSections[] = {
    {Section::kUpdateSubPath, &ProgramConfig::updateSubPath},
    {Section::kUpdateList, &ProgramConfig::updateListPath},
    {Section::kCheckupNotice, &ProgramConfig::checkupNotice},
    {Section::kRegistryKey, &ProgramConfig::updaterPathValueName},
    {Section::kExceptionHost, &ProgramConfig::crashReportHost},
    {Section::kExceptionPath, &ProgramConfig::crashReportPath},
    {Section::kInstallVersion, &ProgramConfig::installerPath},
    {Section::kFileHash, &ProgramConfig::hashListPath},
    {Section::kChunkList, &ProgramConfig::chunkListPath},
    {Section::kPatchList, &ProgramConfig::patchListPath},
};

// The hive of the client's registry data. On Vista the client's data lives
// under the current user whatever the file says.
bool ApplyRegistryHive(const char* value, bool isVista, ProgramConfig& config) {
  if (isVista) {
    config.registryHive = 1;
  } else if (std::strcmp(value, "HK_LOCAL_MACHINE") == 0) {
    config.registryHive = 2;
  } else if (std::strcmp(value, "HK_CURRENT_USER") == 0) {
    config.registryHive = 1;
  } else {
    return false;
  }
  return true;
}

// The first of the client's possible keys that exists becomes its key.
void AdoptKeyIfFirst(const char* value, ProgramConfig& config, RegistryKeyCheck keyExists) {
  if (config.clientRegistryKey[0] == '\0' && KeyExists(keyExists, value, config.registryHive)) {
    ul::Copy(config.clientRegistryKey, value);
  }
}

// Applies one section's value. False when the value makes the reading fail.
bool ApplySection(Section section, const char* value, bool isVista, ProgramConfig& config,
                  RegistryKeyCheck keyExists) {
  for (const TextSection& t : kTextSections) {
    if (t.section == section) {
      ul::Copy(config.*t.field, value);
      return true;
    }
  }
  switch (section) {
    case Section::kInstanceNumber:
      return ul::ParseDecimal(value) == kInstanceNumber;
    case Section::kCheckup: {
      int32_t mode = ul::ParseDecimal(value);
      if (mode < 0 || mode > 2) return false;
      config.checkupMode = mode;
      return true;
    }
    case Section::kRegistry:
      return ApplyRegistryHive(value, isVista, config);
    case Section::kRegistryUlmetPath:
      if (KeyExists(keyExists, value, config.registryHive)) ul::Copy(config.clientRegistryKey, value);
      return true;
    case Section::kRegistryNewPath:
      ul::Copy(config.registryNewPath, value);
      AdoptKeyIfFirst(value, config, keyExists);
      return true;
    case Section::kRegistryPath:
      ul::Copy(config.registryPath, value);
      AdoptKeyIfFirst(value, config, keyExists);
      return true;
    case Section::kVerifiedState:
      config.verifiedStateDays = ParseVerifiedStateValue(value);
      return true;
    case Section::kPace:
      ParsePaceValue(value, &config.pace);
      return true;
    case Section::kException:
      config.crashReportEnabled = ul::ParseDecimal(value) == 1 ? 1 : 0;
      return true;
    default:  // no setting ([PATCHWELL], unknown sections) or stored above
      return true;
  }
}

}  // namespace

bool ParseProgramConfig(std::FILE* file, bool isVista, RegistryKeyCheck keyExists, ProgramConfig* config) {
  char line[ul::kLineCap];
  bool haveLine = ul::ReadTextLine(file, line);
  while (haveLine) {
    Section section = line[0] == ';' ? Section::kNone : FindSection(line);
    if (section != Section::kNone) {
      char value[ul::kLineCap];
      if (!ul::ReadTextLine(file, value)) return false;
      // Comments between a header and its value are skipped; running out of
      // file while skipping leaves an empty value.
      while (value[0] == ';') {
        if (!ul::ReadTextLine(file, value)) value[0] = '\0';
      }
      ul::StripNewline(value);
      if (!ApplySection(section, value, isVista, *config, keyExists)) return false;
    }
    haveLine = ul::ReadTextLine(file, line);
  }
  return true;
}

int ParseVerifiedStateValue(const char* value) {
  if (value == nullptr) return 0;
  if (std::strcmp(value, "on") == 0) return kVerifiedDaysDefault;
  if (std::strncmp(value, "on ", 3) != 0) return 0;
  uint64_t days = 0;
  if (!ul::ParseWholeNumber(value + 3, &days) || days < 1 || days > static_cast<uint64_t>(kVerifiedDaysMax))
    return 0;
  return static_cast<int>(days);
}

namespace {

// The next word of text at *at (blanks first skipped); empty at the end.
std::string NextWord(const std::string& text, std::size_t* at) {
  const std::size_t begin = text.find_first_not_of(' ', *at);
  if (begin == std::string::npos) {
    *at = text.size();
    return std::string();
  }
  const std::size_t end = text.find(' ', begin);
  *at = end == std::string::npos ? text.size() : end;
  return text.substr(begin, *at - begin);
}

// A whole number from lo to hi into *out; anything else leaves it.
void TakeNumber(const std::string& word, uint64_t lo, uint64_t hi, uint32_t* out) {
  uint64_t v = 0;
  if (ul::ParseWholeNumber(word.c_str(), &v) && v >= lo && v <= hi) *out = static_cast<uint32_t>(v);
}

}  // namespace

void ParsePaceValue(const char* value, Pace* pace) {
  const std::string text = value == nullptr ? "" : value;
  pace->given = true;
  std::size_t at = 0;
  for (std::string word = NextWord(text, &at); !word.empty(); word = NextWord(text, &at)) {
    const std::string number = NextWord(text, &at);
    if (word == "download") TakeNumber(number, 4096, kPaceDownloadMaxBytes, &pace->downloadBytes);
    if (word == "digest") TakeNumber(number, 32768, kPaceDigestMaxBytes, &pace->digestBytes);
    if (word == "reread") TakeNumber(number, 0, kPaceRereadMaxMs, &pace->rereadMs);
  }
  pace->digestBytes -= pace->digestBytes % 32768;  // whole chunks of the chained digest
}
