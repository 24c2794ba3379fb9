// What a transfer by chunks leaves behind when it stops before the end: the
// partial file (the new file as far as it got, beside the file it will
// replace) and a small journal that says which of its chunks were checked
// against their digests. The next run that wants the same new file keeps
// those chunks; a journal made for another index, or one that cannot be
// read, means the partial file goes. Their names: common/partial_names.h.
//
// Journal (binary, numbers little-endian):
//   "ULJOURNL"            8 bytes
//   SHA-256 of the index  32 bytes: the index's bytes as fetched
//   file size             u64: the new file's, as the index says
//   chunk count           u32: the index's
//   checked chunks        one bit per chunk, chunk i in bit (i % 8) of
//                         byte i / 8; the bits past the count are zero
// Nothing may follow.
//
// No Windows headers here: this builds natively for the sanitizer runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "formats/chunks/chunk_index.h"
#include "formats/trust/release_manifest.h"

namespace ul {

struct ResumeJournal {
  uint8_t indexSha256[kSha256Bytes] = {0};
  uint64_t size = 0;
  std::vector<bool> checked;  // one per chunk of the index
};

// A new journal for the index whose bytes have the digest indexSha256:
// nothing checked yet.
ResumeJournal StartJournal(const uint8_t (&indexSha256)[kSha256Bytes], const ChunkIndex& index);

// True when the journal was made for this index (its bytes' digest, size
// and chunk count).
bool JournalFits(const ResumeJournal& journal, const uint8_t (&indexSha256)[kSha256Bytes],
                 const ChunkIndex& index);

std::string FormatJournal(const ResumeJournal& journal);

// Where the bit of chunk lies in the journal's bytes, and the byte it is
// in as the journal stands: a journal on disk is written whole once and then
// one byte for each chunk checked, not whole again (at the largest index
// that would be some 24 KB written for each chunk). False for a chunk past
// the count.
bool JournalByte(const ResumeJournal& journal, std::size_t chunk, uint64_t* offset, uint8_t* byte);

// False, and out empty, for anything but a well-formed journal; memory is
// taken only after the count agrees with the bytes given.
bool ParseJournal(const void* data, std::size_t size, ResumeJournal* out);

}  // namespace ul
