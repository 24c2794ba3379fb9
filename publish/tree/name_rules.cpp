#include "tree/name_rules.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "formats/base/bounded.h"
#include "formats/base/safe_path.h"
#include "formats/lists/update_list.h"

namespace ulp {

namespace {

// What the updater's list reader makes of a word on a line newer than the
// client's version.
struct ReaderView {
  bool intact = false;  // collected, whole and unchanged
  bool selfUpdate = false;
  bool fullInstall = false;
};

ReaderView ReadAsUpdater(const std::string& word) {
  UpdateFileList list;
  std::vector<UpdateWord> words;
  const std::string line = "1001 " + word;
  list.ParseUpdateLine(line.c_str(), 1000, &words);
  ReaderView view;
  view.intact = list.entryCount == 1 && word == list.EntryAt(0);
  view.selfUpdate = list.selfUpdateMarked != 0;
  view.fullInstall = list.majorUpdateMarked != 0;
  return view;
}

bool EndsInZip(const std::string& name) { return name.size() > 3 && ul::EndsWithNoCase(name.c_str(), "zip"); }

// The name as the updater resolves it below the nominal folder (and the
// whole path); false when its gate refuses it.
bool ResolvedBelow(const std::string& installFolder, const std::string& word, std::string* resolved,
                   std::string* whole) {
  char local[ul::kPathCap];
  LocalNameOf(UpdateEntryName(word.c_str()), local);
  char path[ul::kPathCap];
  std::size_t folderLength = 0;
  if (!ul::ResolveInsideFolder(installFolder.c_str(), local, path, &folderLength)) return false;
  *resolved = path + folderLength;
  *whole = path;
  return true;
}

std::string BaseName(const std::string& name) {
  std::string::size_type slash = name.rfind('/');
  return slash == std::string::npos ? name : name.substr(slash + 1);
}

}  // namespace

std::string PublishedName(const std::string& name) {
  std::string word = name;
  std::replace(word.begin(), word.end(), ' ', '!');
  return word;
}

std::string ListWordProblem(const std::string& word) {
  if (word.size() >= ul::kPathCap) return "is longer than the 260 characters the updater keeps of a list entry";
  if (!ReadAsUpdater(word).intact) return "is refused by the updater's list reader";
  return "";
}

std::string NameProblem(const std::string& name, bool hashListed, const std::string& installFolder) {
  if (name.find('!') != std::string::npos) return "contains '!', which the updater reads back as a blank";
  if (name.find(':') != std::string::npos) return "contains ':', which the hash list cannot carry";
  const std::string word = PublishedName(name);
  // Its deletion, a '-' in front, must fit as well.
  if (word.size() + 1 >= ul::kPathCap) return "is longer than the 259 characters a list entry and its deletion allow";
  const ReaderView view = ReadAsUpdater(word);
  if (view.selfUpdate) return "contains \"Ulmet.ex_\": the updater would take it for its own new copy";
  if (view.fullInstall) return "contains \"Ulmet_install.exe\": the updater would take it for the full installer";
  if (word[0] == '-' || word[0] == '=') return "begins with '-' or '=', which the update list reads as a deletion";
  if (ClassifyUpdateEntry(word.c_str()) != kEntryFetch) return "is the installer marker, which the updater never fetches";
  if (!view.intact || !ReadAsUpdater("-" + word).intact) return "is refused by the updater's list reader";
  if (EndsInZip(name)) return "ends in \"zip\": the updater would unpack it as an archive and delete it";
  std::string resolved, whole;
  if (!ResolvedBelow(installFolder, word, &resolved, &whole))
    return "is refused by the updater's path gate below " + installFolder +
           " (too long, a device name, a character Windows forbids, or a name of dots)";
  if (!ul::DownloadPathFits(whole.c_str()))
    return "is too long below " + installFolder + ": the updater downloads it as \"" + whole +
           ul::kDownloadPartialSuffix + "\", longer than the " + std::to_string(ul::kLongestPath) +
           " characters Windows opens";
  std::string expected = name;
  std::replace(expected.begin(), expected.end(), '/', '\\');
  if (resolved != expected) return "would be stored by Windows as \"" + resolved + "\"";
  if (hashListed && BaseName(name)[0] == ';') return "begins with ';', which the hash list reads as a comment";
  return "";
}

std::vector<std::string> CaseCollisions(const std::vector<std::string>& names) {
  std::set<std::string> all;
  for (const auto& name : names) {
    all.insert(name);
    for (std::string::size_type slash = name.find('/'); slash != std::string::npos; slash = name.find('/', slash + 1))
      all.insert(name.substr(0, slash));
  }
  std::vector<std::string> sorted(all.begin(), all.end());
  auto noCaseLess = [](const std::string& a, const std::string& b) {
    return ul::CompareNoCase(a.c_str(), b.c_str()) < 0;
  };
  std::stable_sort(sorted.begin(), sorted.end(), noCaseLess);
  std::vector<std::string> pairs;
  for (size_t i = 1; i < sorted.size(); ++i) {
    if (ul::EqualsNoCase(sorted[i - 1].c_str(), sorted[i].c_str())) pairs.push_back(sorted[i - 1] + " and " + sorted[i]);
  }
  return pairs;
}

}  // namespace ulp
