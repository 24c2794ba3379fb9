#include "tree/client_scan.h"

#include <algorithm>

#include "formats/base/bounded.h"
#include "formats/base/partial_names.h"
#include "system/disk_names.h"
#include "tree/name_rules.h"
#include "formats/lists/client_files.h"
#include "tree/server_lists.h"

namespace ulp {

namespace fs = std::filesystem;

std::vector<fs::path> ListFiles(const fs::path& folder) {
  std::vector<fs::path> files;
  for (auto it = fs::recursive_directory_iterator(folder); it != fs::recursive_directory_iterator(); ++it) {
    if (it->is_regular_file()) files.push_back(it->path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

namespace {

// What a client folder gathers on a player's machine and never belongs in a
// release: the crash logs, the player's own data (a repair would overwrite
// it with the operator's), the updater's leftovers of a self-update or a
// component swap, its verified-state record of that machine's files, and
// transfers a stopped run left unfinished. Operators often publish from a
// copy of a played client.
bool MadeOnThePlayersMachine(const std::string& name) {
  for (const char* folder : {"Log", "UserData"}) {
    std::size_t n = std::char_traits<char>::length(folder);
    if (name.size() >= n && ul::EqualsNoCase(name.substr(0, n).c_str(), folder) &&
        (name.size() == n || name[n] == '/'))
      return true;
  }
  for (const char* file : {kUpdaterNewCopy, kUpdaterOldCopy, kRelayAside, kVerifiedRecord, kVerifiedRecordPart}) {
    if (ul::EqualsNoCase(name.c_str(), file)) return true;
  }
  return ul::IsPartialName(name.c_str());
}

}  // namespace

bool ScanClient(const fs::path& folder, ClientScan* scan, std::vector<std::string>* problems) {
  std::error_code ec;
  std::vector<fs::path> paths;
  for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    const fs::path rel = it->path().lexically_relative(folder);
    std::string name;
    if (ClientName(rel, &name) && MadeOnThePlayersMachine(name)) {
      if (it->is_directory()) it.disable_recursion_pending();
      continue;
    } else if (IsLink(it->path())) {
      problems->push_back(Shown(rel) + ": is a link: what it points to would be published to every "
                          "player; put the file or folder itself in the client folder");
      it.disable_recursion_pending();
    } else if (!ClientName(rel, &name)) {
      problems->push_back(Shown(rel) + ": has no form in code page 949, the updater's");
    } else if (it->is_directory()) {
      scan->folders[name] = it->path();
    } else if (it->is_regular_file()) {
      paths.push_back(it->path());
    }
  }
  if (ec) return false;
  std::sort(paths.begin(), paths.end());
  for (const auto& p : paths) {
    ClientFile f;
    f.path = p;
    ClientName(p.lexically_relative(folder), &f.name);
    f.size = fs::file_size(p, ec);
    scan->files.push_back(f);
  }
  return true;
}

std::vector<std::string> ClientProblems(const ClientScan& scan, const std::vector<std::string>& hashExclusions,
                                        const std::string& installFolder) {
  std::vector<std::string> problems;
  std::vector<std::string> names;
  bool module = false;
  for (const auto& f : scan.files) {
    names.push_back(f.name);
    module = module || ul::EqualsNoCase(f.name.c_str(), kClientModule);
    std::string why = NameProblem(f.name, !HashExcluded(f.name, hashExclusions), installFolder);
    if (why.empty() && f.size == 0)
      why = "is empty: the updater cannot fetch it, and an empty digest would end its reading of the hash list";
    if (!why.empty()) problems.push_back(Shown(f.name) + ": " + why);
  }
  for (const auto& pair : CaseCollisions(names))
    problems.push_back(Shown(pair) + ": differ only in letter case, which the updater and Windows do not tell apart");
  if (!module) problems.push_back(std::string(kClientModule) + ": not in the client folder; is it a client folder?");
  return problems;
}

}  // namespace ulp
