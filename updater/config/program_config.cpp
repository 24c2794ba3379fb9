#include "config/program_config.h"

#include <cstring>

#include "common/text_line.h"
#include "config/directory_file.h"
#include "config/update_config.h"
#include "config/verified_record.h"

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
  kVerifiedState,
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
    // Older updaters do not know it and pass over both of its lines.
    {"[VERIFIEDSTATE]", Section::kVerifiedState},
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
  char (UpdateConfig::*field)[ul::kTextCap];
};
const TextSection kTextSections[] = {
    {Section::kUpdateSubPath, &UpdateConfig::updateSubPath},
    {Section::kUpdateList, &UpdateConfig::updateListPath},
    {Section::kCheckupNotice, &UpdateConfig::checkupNotice},
    {Section::kRegistryKey, &UpdateConfig::updaterPathValueName},
    {Section::kExceptionHost, &UpdateConfig::crashReportHost},
    {Section::kExceptionPath, &UpdateConfig::crashReportPath},
    {Section::kInstallVersion, &UpdateConfig::installerPath},
    {Section::kFileHash, &UpdateConfig::hashListPath},
    {Section::kChunkList, &UpdateConfig::chunkListPath},
};

// The hive of the client's registry data. On Vista the client's data lives
// under the current user whatever the file says.
bool ApplyRegistryHive(const char* value, UpdateConfig& config) {
  if (config.isVista == 1) {
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
void AdoptKeyIfFirst(const char* value, UpdateConfig& config, RegistryKeyCheck keyExists) {
  if (config.clientRegistryKey[0] == '\0' && KeyExists(keyExists, value, config.registryHive)) {
    ul::Copy(config.clientRegistryKey, value);
  }
}

// Applies one section's value. False when the value makes the reading fail.
bool ApplySection(Section section, const char* value, UpdateConfig& config,
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
      return ApplyRegistryHive(value, config);
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
      config.verifiedStateDays = ul::ParseVerifiedStateValue(value);
      return true;
    case Section::kException:
      config.crashReportEnabled = ul::ParseDecimal(value) == 1 ? 1 : 0;
      return true;
    default:  // no setting ([PATCHWELL], unknown sections) or stored above
      return true;
  }
}

}  // namespace

bool ParseProgramConfig(std::FILE* file, UpdateConfig& config, RegistryKeyCheck keyExists) {
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
      if (!ApplySection(section, value, config, keyExists)) return false;
    }
    haveLine = ul::ReadTextLine(file, line);
  }
  return true;
}
