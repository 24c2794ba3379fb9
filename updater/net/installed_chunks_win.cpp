#include "net/installed_chunks_win.h"

#include <new>

#include "net/offset_file_win.h"

bool ChunksOfInstalledCopy(ul::OffsetFile& file, std::vector<ul::ChunkRecord>* out) {
  uint64_t size = 0;
  if (!file.Size(&size)) return false;
  std::vector<uint8_t> piece;
  piece.resize(ul::kChunkMaxBytes);
  ul::ChunkIndexBuilder builder(ul::ChunkUse::kInstalledCopy);
  for (uint64_t at = 0; at < size;) {
    const uint32_t n = size - at < piece.size() ? static_cast<uint32_t>(size - at) : static_cast<uint32_t>(piece.size());
    if (!file.ReadAt(at, piece.data(), n) || !builder.Add(piece.data(), n)) return false;
    at += n;
  }
  ul::ChunkIndex index;
  if (!builder.Finish(&index)) return false;
  *out = std::move(index.chunks);
  return true;
}
