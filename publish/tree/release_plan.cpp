#include "tree/release_plan.h"

#include <algorithm>

#include "formats/base/bounded.h"
#include "tree/name_rules.h"
#include "formats/lists/client_files.h"
#include "tree/tree_layout.h"

namespace ulp {

namespace {

bool Below(const std::string& name, const std::string& folder) {
  return name.size() > folder.size() && name[folder.size()] == '/' && name.compare(0, folder.size(), folder) == 0;
}

bool IsUpdater(const std::string& name) { return ul::EqualsNoCase(name.c_str(), kUpdaterName); }

// The topmost folder of name that the new client folder no longer has, or
// "" when its own folder is still there.
std::string GoneFolder(const std::string& name, const std::set<std::string>& nowFolders) {
  for (std::string::size_type slash = name.find('/'); slash != std::string::npos; slash = name.find('/', slash + 1)) {
    const std::string folder = name.substr(0, slash);
    if (!nowFolders.count(folder)) return folder;
  }
  return "";
}

// Deleted files as "-name", or as one "=folder" for a folder gone whole.
void AddDeletions(const PlanInput& in, Plan* plan) {
  std::set<std::string> now;
  for (const auto& f : in.now) now.insert(f.name);
  std::set<std::string> folders, files;
  for (const auto& name : in.before) {
    if (now.count(name)) continue;
    if (IsUpdater(name)) {
      plan->notes.push_back("Ulmet.exe is no longer in the client folder; clients keep theirs");
      continue;
    }
    const std::string folder = GoneFolder(name, in.nowFolders);
    if (folder.empty()) {
      files.insert(name);
    } else {
      folders.insert(folder);
    }
  }
  for (const auto& f : folders) plan->entries.push_back("=" + PublishedName(f));
  for (const auto& f : files) plan->entries.push_back("-" + PublishedName(f));
}

// Archive folders that changed: anything in them added, changed or deleted.
void FindArchives(const PlanInput& in, const std::vector<std::string>& deleted, Plan* plan) {
  for (const auto& a : in.archiveFolders) {
    if (!in.nowFolders.count(a)) {
      plan->notes.push_back("archive folder " + a + " is no longer in the client folder; it is no longer kept");
      continue;
    }
    plan->archiveFolders.push_back(a);
    bool changed = std::any_of(in.now.begin(), in.now.end(), [&](const ClientFileState& f) {
      return f.state != FileState::kUnchanged && Below(f.name, a);
    });
    changed = changed || std::any_of(deleted.begin(), deleted.end(), [&](const std::string& d) { return Below(d, a); });
    if (changed) plan->archives.push_back(a);
  }
}

}  // namespace

std::string ArchiveEntry(const std::string& folder) { return PublishedName(folder) + ".zip"; }

Plan PlanRelease(const PlanInput& in) {
  Plan plan;
  if (in.installer) plan.entries.push_back(kInstallerEntry);
  AddDeletions(in, &plan);
  std::set<std::string> now;
  for (const auto& f : in.now) now.insert(f.name);
  std::vector<std::string> deleted;
  for (const auto& b : in.before) {
    if (!now.count(b)) deleted.push_back(b);
  }
  FindArchives(in, deleted, &plan);

  // Fetched after every deletion: the updater acts in the order it collected
  // the names, and a file may take the place of a deleted one (a file where
  // a folder was, the same name in other letter case). Files that an archive
  // carries come with it.
  std::vector<ClientFileState> sorted = in.now;
  std::sort(sorted.begin(), sorted.end(),
            [](const ClientFileState& a, const ClientFileState& b) { return a.name < b.name; });
  for (const auto& f : sorted) {
    if (f.state == FileState::kUnchanged) continue;
    if (IsUpdater(f.name)) {
      plan.updaterCopy = true;
      continue;
    }
    const bool archived = std::any_of(plan.archives.begin(), plan.archives.end(),
                                      [&](const std::string& a) { return Below(f.name, a); });
    if (!archived) plan.entries.push_back(PublishedName(f.name));
  }
  for (const auto& a : plan.archives) plan.entries.push_back(ArchiveEntry(a));
  if (plan.updaterCopy) plan.entries.push_back(kUpdaterNewCopy);
  return plan;
}

}  // namespace ulp
