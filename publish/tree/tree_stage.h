// A tree is written beside its place (TREE.new) and moved there only when it
// is complete, so that a failed publication never leaves half a tree where
// the web server looks. Until MoveIn the stage belongs to this object: a
// stage that is not moved in is removed with it.
#pragma once

#include <filesystem>
#include <set>
#include <string>

#include "system/tree_lock.h"

namespace ulp {

class TreeStage {
 public:
  explicit TreeStage(const std::filesystem::path& target);
  ~TreeStage();
  TreeStage(const TreeStage&) = delete;
  TreeStage& operator=(const TreeStage&) = delete;

  // Takes the tree's lock (one publication at a time), removes what an
  // interrupted run may have left at the stage's place and creates it
  // empty. The lock is held until the stage goes.
  bool Begin(std::string* error);

  const std::filesystem::path& root() const { return root_; }
  // The stage's file named rel (code page 949, '/' between folders).
  std::filesystem::path PathOf(const std::string& rel) const;

  // Writes a new file. A file already there is removed first, never written
  // through: it may be a link to the same file of the tree being served.
  bool Write(const std::string& rel, const std::string& data, std::string* error);
  bool Copy(const std::string& rel, const std::filesystem::path& source, std::string* error);

  // Every file of the tree from, except those named in skip (code page 949,
  // '/' between folders), linked into the stage where the file system
  // allows, copied otherwise.
  bool CarryOver(const std::filesystem::path& from, const std::set<std::string>& skip, std::string* error);

  // The stage takes the target's place. With keepPrevious the target
  // becomes TARGET.previous (an older one goes), otherwise it goes. If the
  // stage cannot be moved, the target is put back.
  bool MoveIn(bool keepPrevious, std::string* error);

  // Where a tree's stage and its previous tree lie.
  static std::filesystem::path StageOf(const std::filesystem::path& target);
  static std::filesystem::path PreviousOf(const std::filesystem::path& target);

 private:
  std::filesystem::path target_;
  std::filesystem::path root_;
  TreeLock lock_;
  bool begun_ = false;
  bool moved_ = false;
};

}  // namespace ulp

namespace ulp {

// Why a tree may not be written at target, or "": a root; an existing
// folder without force; with force, a folder that holds something other
// than a published tree.
std::string ReplaceProblem(const std::filesystem::path& target, bool force);

// Why folder (the client folder) and the tree must not be used together:
// one lies inside the other. "" when they are apart.
std::string NestingProblem(const std::filesystem::path& folder, const std::filesystem::path& tree);

}  // namespace ulp
