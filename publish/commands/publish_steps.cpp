#include "commands/publish_steps.h"

#include "commands/command_line.h"
#include "system/disk_names.h"
#include "tree/file_digest.h"
#include "tree/server_lists.h"

namespace ulp {

std::string FetchedFile(const Settings& settings, const std::string& word) {
  return TreeRelative(settings.paths.files) + word;
}

bool PublishFiles(TreeStage& stage, const Settings& settings, const std::vector<const ClientFile*>& files,
                  const char* command, std::string* error) {
  Progress progress(command, "publishing", files.size());
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (!stage.Copy(FetchedFile(settings, PublishedName(files[i]->name)), files[i]->path, error)) return false;
    progress.Step(i + 1);
  }
  return true;
}

bool WriteHashList(TreeStage& stage, const Settings& settings, const ClientScan& scan, const char* command,
                   std::size_t* count, std::string* error) {
  std::string text = HashListHeader();
  int number = 0;
  Progress progress(command, "hashing", scan.files.size());
  for (std::size_t i = 0; i < scan.files.size(); ++i) {
    const ClientFile& f = scan.files[i];
    progress.Step(i + 1);
    if (HashExcluded(f.name, settings.hashExcludes)) continue;
    std::string digest;
    if (!ChainedDigest(f.path, &digest)) {
      *error = "cannot read " + Shown(f.path);
      return false;
    }
    text += HashListLine(f.name, ++number, digest);
  }
  *count = static_cast<std::size_t>(number);
  return stage.Write(TreeRelative(settings.paths.hashList), text, error);
}

bool WriteSettings(TreeStage& stage, const Settings& settings, std::string* error) {
  return stage.Write(kSettingsFile, SettingsText(settings), error);
}

bool CheckLists(const TreeStage& stage, const Settings& settings, int installedVersion,
                const std::vector<std::string>& expected, int newVersion, std::size_t hashEntries, std::string* error) {
  std::vector<std::string> names;
  int version = 0;
  if (!CollectAsClient(stage.PathOf(TreeRelative(settings.paths.updateList)), installedVersion, &names, &version)) {
    *error = "the updater would not read the update list written";
    return false;
  }
  if (names != expected || (!expected.empty() && version != newVersion)) {
    *error = "a client at version " + std::to_string(installedVersion) +
             " would not read the new version's entries as written (" + std::to_string(names.size()) + " of " +
             std::to_string(expected.size()) + " names, version " + std::to_string(version) + ")";
    return false;
  }
  const std::size_t taken = CountHashEntries(stage.PathOf(TreeRelative(settings.paths.hashList)));
  if (taken != hashEntries) {
    *error = "the updater would take " + std::to_string(taken) + " of the hash list's " +
             std::to_string(hashEntries) + " entries";
    return false;
  }
  return true;
}

}  // namespace ulp
