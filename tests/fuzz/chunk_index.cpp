// The chunk index, the list of indexed files and a range's body over any
// bytes. The first byte chooses the reader. Besides memory safety: an index is read only when
// it is exactly the bytes the writer makes of what was read, its chunks tile
// the file in order within the chunker's sizes; a list is read only when it
// is the text the writer makes of its names, each of them is found under
// itself and its index lies below the list's folder; anything refused
// leaves nothing behind; of a range's body only chunks that are the file's
// own bytes are handed on, and all of them only when the body is the range;
// a kept index is read only when it is what the writer makes.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "formats/chunks/chunk_index.h"
#include "formats/chunks/chunk_list.h"
#include "formats/chunks/range_assembler.h"
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

// The kept index: read only when it is its header, a digest and an index
// that reads, and written again the same.
void Kept(const uint8_t* data, size_t size) {
  char digest[33] = {0};
  ul::ChunkIndex index;
  if (!ul::ParseKeptIndex(data, size, digest, &index)) return;
  std::string indexBytes, again;
  FUZZ_CHECK(ul::FormatChunkIndex(index, &indexBytes) && ul::FormatKeptIndex(digest, indexBytes, &again),
             std::to_string(size));
  FUZZ_CHECK(again.size() == size && std::memcmp(again.data(), data, size) == 0, std::to_string(size));
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

// Three chunks of a fixed file as one range. The input: two bytes of piece
// size, then pairs of (position, value) that replace the body's bytes at
// position * 17 (an empty pair list: the body as it should be), the last
// odd byte, when there is one, one more byte after the body.
struct Handed : ul::CheckedChunkSink {
  std::string bytes;
  bool ChunkChecked(std::size_t, const uint8_t* data, uint32_t length) override {
    bytes.append(reinterpret_cast<const char*>(data), length);
    return true;
  }
};

void Range(const uint8_t* data, size_t size) {
  static std::string file;
  static ul::ChunkIndex index;
  if (file.empty()) {
    file.resize(ul::kChunkMaxBytes * 2);
    uint32_t x = 2463534242u;
    for (char& c : file) {
      x ^= x << 13;
      x ^= x >> 17;
      x ^= x << 5;
      c = static_cast<char>(x >> 24);
    }
    ul::ChunkIndexBuilder builder;
    if (!builder.Add(file.data(), file.size()) || !builder.Finish(&index) || index.chunks.size() < 3) abort();
  }
  if (size < 2) return;
  ul::RangeRequest r;
  r.firstChunk = 0;
  r.chunkCount = 3;
  r.length = index.chunks[3 - 1].offset + index.chunks[3 - 1].length;
  std::string body = file.substr(0, r.length);
  const size_t piece = 1 + (data[0] | (data[1] << 8));
  size_t at = 2;
  for (; at + 1 < size; at += 2) body[data[at] * 17u % body.size()] = static_cast<char>(data[at + 1]);
  const bool changed = body != file.substr(0, r.length);
  const bool extra = at < size;
  if (extra) body.push_back(static_cast<char>(data[at]));
  Handed sink;
  ul::RangeAssembler in(index, r, sink);
  for (size_t from = 0; from < body.size(); from += piece)
    in.Take(body.data() + from, std::min(piece, body.size() - from));
  FUZZ_CHECK(file.compare(0, sink.bytes.size(), sink.bytes) == 0, std::to_string(sink.bytes.size()));
  FUZZ_CHECK(in.Complete() == (!changed && !extra), std::to_string(piece));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  if (data[0] & 1)
    List(data + 1, size - 1);
  else if (data[0] & 2)
    Range(data + 1, size - 1);
  else if (data[0] & 4)
    Kept(data + 1, size - 1);
  else
    Index(data + 1, size - 1);
  return 0;
}
