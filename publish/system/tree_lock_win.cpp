// Windows: TREE.lock opened without sharing; a second open fails with a
// sharing violation while the first run holds it.
#include <windows.h>

#include "formats/base/owned_win.h"
#include "system/disk_names.h"
#include "system/tree_lock.h"

namespace ulp {

struct TreeLock::Held {
  ul::Handle file;
};

TreeLock::TreeLock() = default;
TreeLock::~TreeLock() = default;

std::filesystem::path TreeLock::LockOf(const std::filesystem::path& target) {
  return std::filesystem::path(target.native() + L".lock");
}

bool TreeLock::Acquire(const std::filesystem::path& target, std::string* error) {
  const std::filesystem::path lock = LockOf(target);
  auto held = std::make_unique<Held>();
  held->file.Reset(CreateFileW(lock.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!held->file) {
    *error = GetLastError() == ERROR_SHARING_VIOLATION
                 ? "another ulmet-publish is publishing " + Shown(target) + " (it holds " + Shown(lock) + ")"
                 : "cannot make the lock " + Shown(lock);
    return false;
  }
  held_ = std::move(held);
  return true;
}

}  // namespace ulp
