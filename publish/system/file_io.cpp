#include "system/file_io.h"

#include <cstring>
#include <vector>

#include "system/disk_names.h"

namespace ulp {

namespace {
constexpr std::size_t kBlock = 1 << 16;
}

bool ReadWholeFile(const std::filesystem::path& file, std::string* data) {
  OwnedFile in = OpenFile(file, "rb");
  if (!in) return false;
  data->clear();
  std::vector<char> buf(kBlock);
  std::size_t n;
  while ((n = std::fread(buf.data(), 1, buf.size(), in.get())) > 0) data->append(buf.data(), n);
  return !std::ferror(in.get());
}

bool CopyBytes(const std::filesystem::path& from, const std::filesystem::path& to, std::string* error) {
  OwnedFile in = OpenFile(from, "rb");
  if (!in) {
    *error = "cannot read " + Shown(from);
    return false;
  }
  OwnedFile out = OpenFile(to, "wb");
  if (!out) {
    *error = "cannot write " + Shown(to);
    return false;
  }
  std::vector<char> buf(kBlock);
  std::size_t n;
  while ((n = std::fread(buf.data(), 1, buf.size(), in.get())) > 0) {
    if (std::fwrite(buf.data(), 1, n, out.get()) != n) break;
  }
  if (std::ferror(in.get())) {
    *error = "cannot read " + Shown(from);
    return false;
  }
  if (std::ferror(out.get()) || !CloseWritten(out)) {
    *error = "cannot write " + Shown(to);
    return false;
  }
  return true;
}

bool SameBytes(const std::filesystem::path& a, const std::filesystem::path& b) {
  std::error_code ec1, ec2;
  if (std::filesystem::file_size(a, ec1) != std::filesystem::file_size(b, ec2) || ec1 || ec2) return false;
  OwnedFile fa = OpenFile(a, "rb");
  OwnedFile fb = OpenFile(b, "rb");
  if (!fa || !fb) return false;
  std::vector<char> ba(kBlock), bb(kBlock);
  for (;;) {
    const std::size_t na = std::fread(ba.data(), 1, ba.size(), fa.get());
    const std::size_t nb = std::fread(bb.data(), 1, bb.size(), fb.get());
    if (na != nb || std::memcmp(ba.data(), bb.data(), na) != 0) return false;
    if (na == 0) return !std::ferror(fa.get()) && !std::ferror(fb.get());
  }
}

}  // namespace ulp
