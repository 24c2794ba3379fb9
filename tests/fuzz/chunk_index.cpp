// The chunk index and the list of indexed files over any bytes. The first
// byte chooses the reader. Besides memory safety: an index is read only when
// it is exactly the bytes the writer makes of what was read, its chunks tile
// the file in order within the chunker's sizes; a list is read only when it
// is the text the writer makes of its names, each of them is found under
// itself and its index lies below the list's folder; anything refused
// leaves nothing behind.
#include <cstring>
#include <string>

#include "chunks/chunk_index.h"
#include "chunks/chunk_list.h"
#include "fuzz_support.h"

namespace {

void Index(const uint8_t* data, size_t size) {
  ul::ChunkIndex index;
  if (!ul::ParseChunkIndex(data, size, &index)) {
    FUZZ_CHECK(index.chunks.empty() && index.size == 0, std::to_string(size));
    return;
  }
  std::string again;
  FUZZ_CHECK(ul::FormatChunkIndex(index, &again), std::to_string(size));
  FUZZ_CHECK(again.size() == size && std::memcmp(again.data(), data, size) == 0, std::to_string(size));
  uint64_t next = 0;
  for (const ul::ChunkRecord& c : index.chunks) {
    FUZZ_CHECK(c.offset == next && c.length >= 1 && c.length <= ul::kChunkMaxBytes, std::to_string(next));
    next += c.length;
  }
  FUZZ_CHECK(next == index.size, std::to_string(next));
}

void List(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  ul::ChunkList list;
  if (!list.Parse(text.data(), text.size())) {
    FUZZ_CHECK(list.names().empty(), fuzz::Shown(text));
    return;
  }
  std::string again;
  FUZZ_CHECK(ul::FormatChunkList(list.names(), &again) && again == text, fuzz::Shown(text));
  const char kList[] = "/Ulmet3/chunks/ULChunkList.dat";
  for (const std::string& name : list.names()) {
    FUZZ_CHECK(list.Lists(name.c_str()), fuzz::Shown(name));
    std::string path;
    FUZZ_CHECK(ul::ChunkIndexPath(kList, name.c_str(), &path), fuzz::Shown(name));
    FUZZ_CHECK(path.rfind("/Ulmet3/chunks/", 0) == 0 && (path + "/").find("/../") == std::string::npos,
               fuzz::Shown(path));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  if (data[0] & 1)
    List(data + 1, size - 1);
  else
    Index(data + 1, size - 1);
  return 0;
}
