#include "net/in_place_chunks_win.h"

#include <cstring>
#include <memory>
#include <new>

#include "formats/trust/release_crypto.h"
#include "net/offset_file_win.h"

namespace {

bool ChunkIsIndexed(const ul::ChunkRecord& chunk, const std::vector<uint8_t>& piece) {
  uint8_t digest[ul::kSha256Bytes];
  ul::Sha256 sha;
  return sha.Update(piece.data(), chunk.length) && sha.Finish(digest) &&
         std::memcmp(digest, chunk.sha256, sizeof digest) == 0;
}

// The chained digest of the whole file, read through the handle that lets
// no one else write while it is open.
bool DigestOf(ul::OffsetFile& file, uint64_t size, std::vector<uint8_t>& piece,
              char (&md5Hex)[ChainedDigest::kDigestChars + 1]) {
  std::unique_ptr<ChainedDigest> digest(new (std::nothrow) ChainedDigest());
  if (!digest) return false;
  for (uint64_t at = 0; at < size;) {
    const uint32_t n = size - at < piece.size() ? static_cast<uint32_t>(size - at) : static_cast<uint32_t>(piece.size());
    if (!file.ReadAt(at, piece.data(), n)) return false;
    digest->Add(piece.data(), n);
    at += n;
  }
  return digest->Finish(md5Hex);
}

}  // namespace

bool InPlaceFits(const ul::ChunkIndex& index, const ul::TransferPlan& plan, uint64_t installedSize) {
  if (installedSize != index.size || plan.copiedBytes < index.size / 2) return false;
  for (std::size_t i = 0; i < index.chunks.size(); ++i) {
    const ul::PlannedChunk& planned = plan.chunks[i];
    if (planned.source == ul::kFromInstalled && planned.installedOffset != index.chunks[i].offset) return false;
  }
  return true;
}

const char* ApplyInPlace(const ul::ChunkIndex& index, const ul::TransferPlan& plan, ul::OffsetFile& partial,
                         ul::OffsetFile& installed, std::vector<uint8_t>& piece,
                         char (&md5Hex)[ChainedDigest::kDigestChars + 1]) {
  for (std::size_t i = 0; i < index.chunks.size(); ++i) {
    if (plan.chunks[i].source == ul::kFromInstalled) continue;
    const ul::ChunkRecord& chunk = index.chunks[i];
    if (!partial.ReadAt(chunk.offset, piece.data(), chunk.length) || !ChunkIsIndexed(chunk, piece))
      return "the partial file differs from its journal";
    if (!installed.WriteAt(chunk.offset, piece.data(), chunk.length)) return "the installed copy cannot be written";
  }
  if (!DigestOf(installed, index.size, piece, md5Hex)) return "the installed copy cannot be read back";
  return nullptr;
}
