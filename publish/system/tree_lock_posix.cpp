// Debian: an advisory lock (flock) on TREE.lock.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "system/disk_names.h"
#include "system/tree_lock.h"

namespace ulp {

struct TreeLock::Held {
  explicit Held(int descriptor) : fd(descriptor) {}
  ~Held() { close(fd); }
  Held(const Held&) = delete;
  Held& operator=(const Held&) = delete;
  int fd;
};

TreeLock::TreeLock() = default;
TreeLock::~TreeLock() = default;

std::filesystem::path TreeLock::LockOf(const std::filesystem::path& target) {
  return std::filesystem::path(target.native() + ".lock");
}

bool TreeLock::Acquire(const std::filesystem::path& target, std::string* error) {
  const std::filesystem::path lock = LockOf(target);
  const int fd = open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    *error = "cannot make the lock " + Shown(lock);
    return false;
  }
  auto held = std::make_unique<Held>(fd);
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    *error = errno == EWOULDBLOCK
                 ? "another ulmet-publish is publishing " + Shown(target) + " (it holds " + Shown(lock) + ")"
                 : "cannot lock " + Shown(lock);
    return false;
  }
  held_ = std::move(held);
  return true;
}

}  // namespace ulp
