#include "commands/chunk_indexes.h"

#include <vector>

#include "formats/chunks/chunk_list.h"
#include "commands/command_line.h"
#include "formats/lists/program_config.h"
#include "system/disk_names.h"
#include "system/file_io.h"
#include "tree/file_digest.h"
#include "tree/name_rules.h"

namespace ulp {

namespace {

// Where the index of the update file published as name lies in the tree.
bool IndexTreeName(const Settings& settings, const std::string& name, std::string* treeName) {
  std::string path;
  if (!ul::ChunkIndexPath(settings.paths.chunkList.c_str(), name.c_str(), &path)) return false;
  *treeName = TreeRelative(path);
  return true;
}

// An index carried over from the tree before still serves a file of size
// bytes that did not change.
bool StillFits(const fs::path& index, std::uintmax_t size) {
  std::error_code ec;
  std::string bytes;
  ul::ChunkIndex read;
  return fs::is_regular_file(index, ec) && fs::file_size(index, ec) <= ul::kChunkIndexMaxBytes &&
         ReadWholeFile(index, &bytes) && ul::ParseChunkIndex(bytes.data(), bytes.size(), &read) &&
         read.size == size;
}

// Removes the stage's indexes that keep does not name.
void RemoveOthers(const TreeStage& stage, const Settings& settings, const std::set<fs::path>& keep) {
  const std::string& list = settings.paths.chunkList;
  const fs::path folder = stage.PathOf(TreeRelative(list.substr(0, list.rfind('/'))));
  std::error_code ec;
  std::vector<fs::path> stale;
  for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    if (it->is_regular_file() && it->path().extension() == fs::path(ul::kChunkIndexSuffix) &&
        !keep.count(it->path().lexically_normal()))
      stale.push_back(it->path());
  }
  for (const auto& p : stale) fs::remove(p, ec);
}

}  // namespace

bool WriteChunkIndexes(TreeStage& stage, const Settings& settings, const ClientScan& scan,
                       const std::set<std::string>& changed, const char* command, std::size_t* indexed,
                       std::string* error) {
  *indexed = 0;
  if (settings.paths.chunkList.empty()) return true;
  std::vector<const ClientFile*> big;
  for (const auto& f : scan.files) {
    if (f.size < settings.chunkIndexFrom) continue;
    if (f.size <= ul::kChunkIndexMaxFileBytes)
      big.push_back(&f);
    else
      Fail(command, kExitDone, "note: " + Shown(f.name) + " is too big for a chunk index; it travels whole");
  }
  std::vector<std::string> names;
  std::set<fs::path> keep;
  Progress progress(command, "indexing", big.size());
  for (std::size_t i = 0; i < big.size(); ++i) {
    const ClientFile& f = *big[i];
    const std::string name = PublishedName(f.name);
    std::string treeName, bytes;
    ul::ChunkIndex index;
    if (!IndexTreeName(settings, name, &treeName)) {
      *error = "no server path for the chunk index of " + Shown(f.name);
      return false;
    }
    if (changed.count(f.name) || !StillFits(stage.PathOf(treeName), f.size)) {
      if (!IndexOfFile(f.path, &index) || !ul::FormatChunkIndex(index, &bytes)) {
        *error = "cannot index " + Shown(f.path);
        return false;
      }
      if (!stage.Write(treeName, bytes, error)) return false;
    }
    names.push_back(name);
    keep.insert(stage.PathOf(treeName).lexically_normal());
    progress.Step(i + 1);
  }
  std::string list;
  if (!ul::FormatChunkList(names, &list)) {
    *error = "the chunk list would not read back";
    return false;
  }
  if (!stage.Write(TreeRelative(settings.paths.chunkList), list, error)) return false;
  RemoveOthers(stage, settings, keep);
  *indexed = names.size();
  return true;
}

bool AnnouncesChunkList(const fs::path& tree, const Settings& settings) {
  OwnedFile f = OpenFile(TreePath(tree, TreeRelative(settings.paths.programConfig)), "rb");
  ProgramConfig config;
  return f && ParseProgramConfig(f.get(), false, nullptr, &config) && settings.paths.chunkList == config.chunkListPath;
}

}  // namespace ulp
