#include "tree/tree_layout.h"

#include <string>

#include "formats/lists/directory_file.h"
#include "formats/lists/program_config.h"
#include "formats/lists/client_files.h"
#include "formats/trust/verified_record.h"

namespace ulp {

std::string TreeRelative(const std::string& serverPath) {
  std::string::size_type start = serverPath.find_first_not_of('/');
  return start == std::string::npos ? std::string() : serverPath.substr(start);
}

std::string DirectoryFileText(const std::string& host, int port, const std::string& programConfig) {
  return "; configuration server directory\n" + std::to_string(kInstanceNumber) + "\n" + host + "\n" +
         std::to_string(port) + "\n" + programConfig + "\n";
}

Sections DefaultProgramSections(const std::string& host, const ServerPaths& paths) {
  Sections sections = {
      {"INSTANCENUMBER", std::to_string(kInstanceNumber)},
      {"PATCHWELL", "1"},
      {"UPDATESUBPATH", paths.files},
      {"UPDATELIST", paths.updateList},
      {"CHECKUP", "0"},
      {"CHECKUPNOTICE", "http://" + host + "/notice.html"},
      {"REGISTRY", "HK_LOCAL_MACHINE"},
      {"REGISTRYPATH", "Software\\Zolte\\ULMET3"},
      {"REGISTRYNEWPATH", "Software\\ULMET3"},
      {"REGISTRYULMETPATH", "Software\\ULMET"},
      {"REGISTRYKEY", "PatchPath"},
      {"EXCEPTION", "1"},
      {"EXCEPTIONHOST", host},
      {"EXCEPTIONPATH", "/report/exception.php"},
      {"INSTALLVERSION", paths.installer},
      {"FILEHASH", paths.hashList},
  };
  if (!paths.chunkList.empty()) sections.push_back({"CHUNKLIST", paths.chunkList});
  if (!paths.patchList.empty()) sections.push_back({"PATCHLIST", paths.patchList});
  return sections;
}

std::string ProgramConfigText(const Sections& sections) {
  std::string text = "; program configuration\n";
  for (const auto& s : sections) text += "[" + s.first + "]\n" + s.second + "\n";
  return text;
}

std::pair<std::string, std::string> VerifiedStateSection(int days) {
  return {"VERIFIEDSTATE", "on " + std::to_string(days)};
}

namespace {
// What a start's second of reading again takes on a fast machine: the
// chained digest on one core (the disk's cache or a fast drive keeping up).
constexpr uint64_t kRereadBytesPerStart = 512ull << 20;
}  // namespace

int VerifiedDaysFor(uint64_t cost, uint64_t biggest) {
  int days = kVerifiedDaysDefault;
  while (days < kVerifiedDaysMax && ul::DailyShareOf(cost, biggest, days) > kRereadBytesPerStart) ++days;
  return days;
}

std::pair<std::string, std::string> PaceSection() {
  return {"PACE", "download " + std::to_string(kPaceDownloadMaxBytes) + " digest 4194304 reread 1000"};
}

std::vector<std::string> DefaultHashExclusions() {
  return {kUpdaterName, kUpdaterNewCopy, kUpdaterOldCopy, kRelayAside, "Log/"};
}

}  // namespace ulp
