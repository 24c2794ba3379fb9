#include "tree/tree_stage.h"

#include "system/disk_names.h"
#include "system/file_io.h"
#include "system/folder_swap.h"
#include "tree/tree_layout.h"

namespace ulp {

namespace fs = std::filesystem;

namespace {

// A new file at p: its folder made, and whatever was there removed.
bool MakeRoomFor(const fs::path& p, std::string* error) {
  std::error_code ec;
  fs::create_directories(p.parent_path(), ec);
  fs::remove(p, ec);
  if (ec) *error = "cannot replace " + Shown(p) + ": " + ec.message();
  return !ec;
}

std::string Key(const fs::path& relative) { return relative.lexically_normal().generic_string(); }

}  // namespace

fs::path TreeStage::StageOf(const fs::path& target) { return fs::path(target.native() + fs::path(".new").native()); }

fs::path TreeStage::PreviousOf(const fs::path& target) {
  return fs::path(target.native() + fs::path(".previous").native());
}

TreeStage::TreeStage(const fs::path& target) : target_(target), root_(StageOf(target)) {}

TreeStage::~TreeStage() {
  if (begun_ && !moved_) {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
}

bool TreeStage::Begin(std::string* error) {
  if (!lock_.Acquire(target_, error)) return false;
  std::error_code ec;
  fs::remove_all(root_, ec);
  if (!ec) fs::create_directories(root_, ec);
  if (ec) {
    *error = "cannot create " + Shown(root_) + ": " + ec.message();
    return false;
  }
  begun_ = true;
  return true;
}

fs::path TreeStage::PathOf(const std::string& rel) const { return TreePath(root_, rel); }

bool TreeStage::Write(const std::string& rel, const std::string& data, std::string* error) {
  const fs::path p = PathOf(rel);
  if (!MakeRoomFor(p, error)) return false;
  OwnedFile out = OpenFile(p, "wb");
  if (!out || std::fwrite(data.data(), 1, data.size(), out.get()) != data.size() || !CloseWritten(out)) {
    *error = "cannot write " + Shown(p);
    return false;
  }
  return true;
}

bool TreeStage::Copy(const std::string& rel, const fs::path& source, std::string* error) {
  const fs::path p = PathOf(rel);
  return MakeRoomFor(p, error) && CopyBytes(source, p, error);
}

bool TreeStage::CarryOver(const fs::path& from, const std::set<std::string>& skipNames, std::string* error) {
  std::set<std::string> skip;
  for (const auto& name : skipNames) skip.insert(Key(TreePath(fs::path(), name)));
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(from, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    if (!it->is_regular_file()) continue;
    const fs::path rel = it->path().lexically_relative(from);
    if (skip.count(Key(rel))) continue;
    const fs::path to = root_ / rel;
    if (!MakeRoomFor(to, error)) return false;
    std::error_code linkError;
    fs::create_hard_link(it->path(), to, linkError);
    if (linkError && !CopyBytes(it->path(), to, error)) return false;
  }
  if (ec) *error = "cannot read the tree " + Shown(from) + ": " + ec.message();
  return !ec;
}

bool TreeStage::MoveIn(bool keepPrevious, std::string* error) {
  std::error_code ec;
  const fs::path previous = PreviousOf(target_);
  const bool hadTarget = fs::exists(target_, ec);
  if (hadTarget && fs::is_directory(target_, ec) && ExchangeFolders(root_, target_)) {
    // The new tree is served; the old one now lies at the stage's place.
    moved_ = true;
    fs::remove_all(previous, ec);
    if (keepPrevious) fs::rename(root_, previous, ec);
    if (!keepPrevious || ec) fs::remove_all(root_, ec);
    return true;
  }
  if (hadTarget && keepPrevious) {
    fs::remove_all(previous, ec);
    if (!ec) fs::rename(target_, previous, ec);
  } else if (hadTarget) {
    fs::remove_all(target_, ec);
  }
  if (ec) {
    *error = "cannot move the tree " + Shown(target_) + " out of the way: " + ec.message();
    return false;
  }
  fs::rename(root_, target_, ec);
  if (ec) {
    *error = "cannot move the new tree into place: " + ec.message();
    std::error_code back;
    if (hadTarget && keepPrevious) fs::rename(previous, target_, back);
    return false;
  }
  moved_ = true;
  return true;
}

}  // namespace ulp

namespace ulp {

std::string ReplaceProblem(const fs::path& target, bool force) {
  if (target.empty() || target == target.root_path()) return "refusing to publish into " + Shown(target);
  std::error_code ec;
  if (!fs::exists(target, ec)) return "";
  const bool empty = fs::is_directory(target, ec) && fs::is_empty(target, ec);
  if (empty) return "";
  if (!force) return Shown(target) + " exists; --force replaces a tree published before";
  if (!fs::exists(target / kDirectoryFile, ec) && !fs::exists(target / kSettingsFile, ec))
    return Shown(target) + " does not look like a published tree; not replacing it";
  return "";
}

std::string NestingProblem(const fs::path& folder, const fs::path& tree) {
  const std::string a = folder.lexically_normal().generic_string();
  const std::string b = tree.lexically_normal().generic_string();
  auto inside = [](const std::string& inner, const std::string& outer) {
    return inner == outer || inner.rfind(outer.back() == '/' ? outer : outer + "/", 0) == 0;
  };
  if (inside(a, b) || inside(b, a)) return "the tree and the client folder must not contain each other";
  return "";
}

}  // namespace ulp
