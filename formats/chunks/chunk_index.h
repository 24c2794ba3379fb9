// The chunk index of a big file: its size, the SHA-256 of all of it, and
// its content-defined chunks (content_chunker.h), each with its offset,
// length and SHA-256. The publisher writes one for every big file; the
// updater reads it to tell which chunks its installed copy already holds and
// to check every chunk it fetches before writing it.
//
// Format (binary, numbers little-endian; 68 bytes, then 44 per chunk):
//   "ULCHUNKS"             8 bytes
//   version                u32, 1
//   min, normal, max size  u32 each: the chunker it was made with
//   file size              u64
//   SHA-256 of the file    32 bytes
//   chunk count            u32
//   per chunk: offset u64, length u32, SHA-256 32 bytes
// Nothing may follow the last chunk. The chunks cover the file from its
// start to its end, each where the one before it ends; each is between the
// smallest and the largest size (only the last may be shorter). An empty
// file has no chunk.
//
// No Windows headers here: this builds natively for the sanitizer runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "formats/chunks/content_chunker.h"
#include "formats/trust/release_crypto.h"
#include "formats/trust/release_manifest.h"

namespace ul {

constexpr std::size_t kChunkIndexHeaderBytes = 68;
constexpr std::size_t kChunkRecordBytes = 44;
// An index longer than this is refused unread. It bounds what the updater
// holds of one index (some 190,000 chunks: files of 11.6 GiB whatever their
// content, some 44 GiB as chunks fall on average); bigger files travel
// whole.
constexpr std::size_t kChunkIndexMaxBytes = 8u << 20;
constexpr std::size_t kChunkIndexMaxChunks =
    (kChunkIndexMaxBytes - kChunkIndexHeaderBytes) / kChunkRecordBytes;
// Every file up to this size has an index whatever its content (each chunk
// but the last is at least the smallest size).
constexpr uint64_t kChunkIndexMaxFileBytes = uint64_t{kChunkIndexMaxChunks - 1} * kChunkMinBytes;

struct ChunkRecord {
  uint64_t offset = 0;
  uint32_t length = 0;
  uint8_t sha256[kSha256Bytes] = {0};
};

struct ChunkIndex {
  uint64_t size = 0;
  uint8_t sha256[kSha256Bytes] = {0};
  std::vector<ChunkRecord> chunks;
};

// What a builder's chunks are for: the index a publisher serves (every
// chunk counted against what an index holds, and the SHA-256 of the whole
// file), or the installed copy that a transfer copies chunks from (its
// chunks only, however many).
enum class ChunkUse { kIndex, kInstalledCopy };

// Builds the index of bytes handed over in pieces of any size, in a single
// pass and without keeping them. The publisher and the updater cut with this
// one builder, so that an unchanged chunk has the same bounds on both sides.
class ChunkIndexBuilder {
 public:
  explicit ChunkIndexBuilder(ChunkUse use = ChunkUse::kIndex);
  ChunkIndexBuilder(const ChunkIndexBuilder&) = delete;
  ChunkIndexBuilder& operator=(const ChunkIndexBuilder&) = delete;

  // False once hashing failed or the bytes need more chunks than an index
  // holds; every later call fails too.
  bool Add(const void* data, std::size_t n);
  // The index of everything added (for kInstalledCopy without the whole
  // file's digest); the builder is spent afterwards.
  bool Finish(ChunkIndex* out);

 private:
  bool EndChunk();

  ChunkUse use_;
  ContentChunker chunker_;
  Sha256 whole_;
  std::unique_ptr<Sha256> chunk_;
  ChunkIndex index_;
  uint32_t chunkLength_ = 0;
  bool ok_ = true;
};

// The index of what is left to read in file (opened in binary mode), read
// in pieces of a fixed size. False when it cannot be read to its end.
bool IndexFile(std::FILE* file, ChunkIndex* out);

// The index's bytes. False (and out untouched) for an index the reader
// would refuse.
bool FormatChunkIndex(const ChunkIndex& index, std::string* out);

// Reads an index. False, and out empty, for anything but a well-formed
// index of this program's chunker; memory is taken only after the count
// agrees with the bytes given.
bool ParseChunkIndex(const void* data, std::size_t size, ChunkIndex* out);

// The index an updater keeps beside a file it made by chunks ("NAME~chunks",
// see formats/base/partial_names.h): the file's chained digest (the hash
// list's kind, 32 characters), with which the verified-state record names
// it, then the index it was made and checked by. When the record vouches
// that the file is still the one of that digest, the next transfer takes
// its chunks from here instead of cutting the file again.
//   "ulmet-kept-index 1 <digest>\n" then the index's bytes
bool FormatKeptIndex(const char* digest, const std::string& indexBytes, std::string* out);
// False, and nothing taken, for anything else; digest gets 33 bytes.
bool ParseKeptIndex(const void* data, std::size_t size, char (&digest)[33], ChunkIndex* out);

}  // namespace ul
