#include "system/mapped_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ulp {

namespace {
// The descriptor while the file is mapped; the mapping keeps the file after.
struct Descriptor {
  explicit Descriptor(int fd) : fd(fd) {}
  ~Descriptor() {
    if (fd >= 0) close(fd);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int fd;
};
}  // namespace

MappedFile::~MappedFile() { Close(); }

void MappedFile::Close() {
  if (data_ != nullptr) munmap(const_cast<unsigned char*>(data_), size_);
  data_ = nullptr;
  size_ = 0;
}

bool MappedFile::Open(const std::filesystem::path& path) {
  Close();
  const Descriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat st;
  void* p = MAP_FAILED;
  if (file.fd >= 0 && fstat(file.fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 &&
      static_cast<unsigned long long>(st.st_size) <= static_cast<std::size_t>(-1))
    p = mmap(nullptr, static_cast<std::size_t>(st.st_size), PROT_READ, MAP_PRIVATE, file.fd, 0);
  if (p == MAP_FAILED) return false;
  data_ = static_cast<const unsigned char*>(p);
  size_ = static_cast<std::size_t>(st.st_size);
  return true;
}

}  // namespace ulp
