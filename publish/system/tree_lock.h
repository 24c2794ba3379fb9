// One publication of a tree at a time: a second run would remove the first
// one's stage while it writes. The lock is a file beside the tree
// (TREE.lock) held open for the run; the system lets go of it when the
// process ends however it ends, so a run that was killed never blocks the
// next one.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

namespace ulp {

class TreeLock {
 public:
  TreeLock();
  ~TreeLock();
  TreeLock(const TreeLock&) = delete;
  TreeLock& operator=(const TreeLock&) = delete;

  // False, with the reason in *error, when another run holds the lock or
  // the lock file cannot be made.
  bool Acquire(const std::filesystem::path& target, std::string* error);

  static std::filesystem::path LockOf(const std::filesystem::path& target);

 private:
  struct Held;  // the open lock file, as each system keeps it
  std::unique_ptr<Held> held_;
};

}  // namespace ulp
