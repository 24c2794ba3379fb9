// A whole file mapped into memory for reading: the base and the new file a
// binary patch is made from (tree/patch_maker.h), which the encoder reads
// where they lie instead of in copies of its own.
#pragma once

#include <cstddef>
#include <filesystem>

namespace ulp {

class MappedFile {
 public:
  MappedFile() = default;
  ~MappedFile();
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  // Maps the file at path whole. False when it cannot be opened or mapped,
  // or is empty (nothing to map).
  bool Open(const std::filesystem::path& path);
  const unsigned char* data() const { return data_; }
  std::size_t size() const { return size_; }

 private:
  void Close();

  const unsigned char* data_ = nullptr;
  std::size_t size_ = 0;
  void* mapping_ = nullptr;  // Windows: the file mapping's handle
};

}  // namespace ulp
