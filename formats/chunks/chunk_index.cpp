#include "formats/chunks/chunk_index.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "formats/base/le_bytes.h"
#include "formats/trust/md5.h"

namespace ul {

namespace {

const char kMagic[] = "ULCHUNKS";
constexpr std::size_t kMagicBytes = 8;
constexpr uint32_t kVersion = 1;

// What the reader insists on, so that the writer never writes anything
// else: chunks that tile the file in order, each of a size this chunker
// makes.
bool WellFormed(const ChunkIndex& index) {
  if (index.chunks.size() > kChunkIndexMaxChunks) return false;
  uint64_t next = 0;
  for (std::size_t i = 0; i < index.chunks.size(); ++i) {
    const ChunkRecord& c = index.chunks[i];
    const bool last = i + 1 == index.chunks.size();
    if (c.offset != next || c.length == 0 || c.length > kChunkMaxBytes ||
        (!last && c.length < kChunkMinBytes))
      return false;
    next += c.length;
  }
  return next == index.size;
}

}  // namespace

ChunkIndexBuilder::ChunkIndexBuilder(ChunkUse use) : use_(use), chunk_(new (std::nothrow) Sha256()) {}

bool ChunkIndexBuilder::Add(const void* data, std::size_t n) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  while (ok_ && n > 0) {
    bool ends = false;
    const std::size_t take = chunker_.Scan(p, n, &ends);
    ok_ = chunk_ != nullptr && (use_ != ChunkUse::kIndex || whole_.Update(p, take)) && chunk_->Update(p, take);
    chunkLength_ += static_cast<uint32_t>(take);
    index_.size += take;
    p += take;
    n -= take;
    if (ok_ && ends) ok_ = EndChunk();
  }
  return ok_;
}

bool ChunkIndexBuilder::EndChunk() {
  if (chunkLength_ == 0) return true;
  if (use_ == ChunkUse::kIndex && index_.chunks.size() >= kChunkIndexMaxChunks) return false;
  ChunkRecord record;
  record.offset = index_.size - chunkLength_;
  record.length = chunkLength_;
  if (!chunk_->Finish(record.sha256)) return false;
  index_.chunks.push_back(record);
  chunkLength_ = 0;
  chunk_.reset(new (std::nothrow) Sha256());
  return chunk_ != nullptr;
}

bool ChunkIndexBuilder::Finish(ChunkIndex* out) {
  const bool ok = ok_ && EndChunk() && (use_ != ChunkUse::kIndex || whole_.Finish(index_.sha256));
  ok_ = false;
  if (ok) *out = std::move(index_);
  return ok;
}

namespace {

const char kKeptHeader[] = "ulmet-kept-index 1 ";
constexpr std::size_t kKeptHeaderBytes = sizeof kKeptHeader - 1;

}  // namespace

bool FormatKeptIndex(const char* digest, const std::string& indexBytes, std::string* out) {
  if (digest == nullptr || std::strlen(digest) != 32 || !IsDigestHex(digest)) return false;
  *out = std::string(kKeptHeader) + digest + "\n" + indexBytes;
  return true;
}

bool ParseKeptIndex(const void* data, std::size_t size, char (&digest)[33], ChunkIndex* out) {
  const char* text = static_cast<const char*>(data);
  const std::size_t head = kKeptHeaderBytes + 32 + 1;
  if (data == nullptr || size < head || std::memcmp(text, kKeptHeader, kKeptHeaderBytes) != 0 ||
      !IsDigestHex(text + kKeptHeaderBytes) || text[head - 1] != '\n' ||
      !ParseChunkIndex(text + head, size - head, out))
    return false;
  std::memcpy(digest, text + kKeptHeaderBytes, 32);
  digest[32] = '\0';
  return true;
}

bool IndexFile(std::FILE* file, ChunkIndex* out) {
  std::vector<uint8_t> buffer(kChunkMinBytes);
  ChunkIndexBuilder builder;
  bool ok = true;
  std::size_t got = 0;
  while (ok && (got = std::fread(buffer.data(), 1, buffer.size(), file)) > 0) ok = builder.Add(buffer.data(), got);
  return ok && !std::ferror(file) && builder.Finish(out);
}

bool FormatChunkIndex(const ChunkIndex& index, std::string* out) {
  if (!WellFormed(index)) return false;
  std::string bytes(kMagic, kMagicBytes);
  bytes.reserve(kChunkIndexHeaderBytes + index.chunks.size() * kChunkRecordBytes);
  PutLe(&bytes, kVersion, 4);
  PutLe(&bytes, kChunkMinBytes, 4);
  PutLe(&bytes, kChunkNormalBytes, 4);
  PutLe(&bytes, kChunkMaxBytes, 4);
  PutLe(&bytes, index.size, 8);
  bytes.append(reinterpret_cast<const char*>(index.sha256), kSha256Bytes);
  PutLe(&bytes, index.chunks.size(), 4);
  for (const ChunkRecord& c : index.chunks) {
    PutLe(&bytes, c.offset, 8);
    PutLe(&bytes, c.length, 4);
    bytes.append(reinterpret_cast<const char*>(c.sha256), kSha256Bytes);
  }
  *out = std::move(bytes);
  return true;
}

bool ParseChunkIndex(const void* data, std::size_t size, ChunkIndex* out) {
  *out = ChunkIndex();
  if (data == nullptr || size < kChunkIndexHeaderBytes || size > kChunkIndexMaxBytes ||
      std::memcmp(data, kMagic, kMagicBytes) != 0)
    return false;
  LeReader in(static_cast<const uint8_t*>(data) + kMagicBytes, size - kMagicBytes);
  uint64_t version = 0, min = 0, normal = 0, max = 0, count = 0;
  ChunkIndex index;
  if (!in.Number(4, &version) || !in.Number(4, &min) || !in.Number(4, &normal) ||
      !in.Number(4, &max) || !in.Number(8, &index.size) || !in.Bytes(index.sha256, kSha256Bytes) ||
      !in.Number(4, &count))
    return false;
  // Another chunker's index would match nothing the updater cuts; a count
  // that the bytes do not hold is refused before any memory is taken.
  if (version != kVersion || min != kChunkMinBytes || normal != kChunkNormalBytes ||
      max != kChunkMaxBytes || count > kChunkIndexMaxChunks ||
      in.left() != count * kChunkRecordBytes)
    return false;
  index.chunks.resize(static_cast<std::size_t>(count));
  for (ChunkRecord& c : index.chunks) {
    uint64_t offset = 0, length = 0;
    if (!in.Number(8, &offset) || !in.Number(4, &length) || !in.Bytes(c.sha256, kSha256Bytes))
      return false;
    c.offset = offset;
    c.length = static_cast<uint32_t>(length);
  }
  if (!WellFormed(index)) return false;
  *out = std::move(index);
  return true;
}

}  // namespace ul
