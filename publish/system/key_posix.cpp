#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "system/key.h"

bool ulp::WriteNewFile(const std::string& path, const std::string& bytes, bool secret,
                       std::string* error) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, secret ? 0600 : 0644);
  if (fd < 0) {
    *error = "cannot create " + path + ": " + std::strerror(errno);
    return false;
  }
  // The creation mode is masked by the umask; a secret must not depend on it.
  bool ok = !secret || fchmod(fd, 0600) == 0;
  ok = ok && write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  ok = close(fd) == 0 && ok;
  if (!ok) {
    *error = "cannot write " + path + ": " + std::strerror(errno);
    unlink(path.c_str());
  }
  return ok;
}
