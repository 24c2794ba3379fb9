#include "tree/server_lists.h"

#include <algorithm>

#include "formats/base/bounded.h"
#include "formats/lists/hash_list.h"
#include "formats/lists/update_list.h"
#include "system/disk_names.h"

namespace ulp {

std::vector<std::string> VersionLines(int version, const std::vector<std::string>& entries) {
  const std::string number = std::to_string(version);
  std::vector<std::string> lines;
  std::string line = number;
  for (const auto& e : entries) {
    if (line.size() > number.size() && line.size() + 1 + e.size() > kLongestListLine) {
      lines.push_back(line);
      line = number;
    }
    line += " " + e;
  }
  if (line.size() > number.size()) lines.push_back(line);
  return lines;
}

bool CollectAsClient(const std::filesystem::path& listFile, int installedVersion, std::vector<std::string>* names,
                     int* newVersion) {
  OwnedFile file = OpenFile(listFile, "r");
  if (!file) return false;
  UpdateFileList list;
  std::vector<UpdateWord> words;
  const bool read = list.ReadListFile(file.get(), installedVersion, &words) == kListRead;
  names->clear();
  for (int i = 0; i < list.entryCount; ++i) names->emplace_back(list.EntryAt(i));
  *newVersion = list.maxVersion;
  return read;
}

std::string HashListHeader() { return "; name:number:digest:folder\n"; }

std::string HashListLine(const std::string& name, int number, const std::string& digest) {
  const std::string::size_type slash = name.rfind('/');
  std::string folder = slash == std::string::npos ? ".\\" : name.substr(0, slash + 1);
  std::replace(folder.begin(), folder.end(), '/', '\\');
  const std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
  return base + ":" + std::to_string(number) + ":" + digest + ":" + folder + "\n";
}

bool HashExcluded(const std::string& name, const std::vector<std::string>& exclusions) {
  for (const auto& e : exclusions) {
    if (!e.empty() && e.back() == '/') {
      if (name.size() >= e.size() && ul::EqualsNoCase(name.substr(0, e.size()).c_str(), e.c_str())) return true;
    } else if (ul::EqualsNoCase(name.c_str(), e.c_str())) {
      return true;
    }
  }
  return false;
}

std::size_t CountHashEntries(const std::filesystem::path& hashFile) {
  OwnedFile file = OpenFile(hashFile, "r");
  if (!file) return 0;
  HashList list;
  ParseHashList(file.get(), &list);
  return list.entries.size();
}

}  // namespace ulp
