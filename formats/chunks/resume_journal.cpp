#include "formats/chunks/resume_journal.h"

#include <cstring>

#include "formats/base/le_bytes.h"

namespace ul {

namespace {

const char kMagic[] = "ULJOURNL";
constexpr std::size_t kMagicBytes = 8;
constexpr std::size_t kHeaderBytes = kMagicBytes + kSha256Bytes + 8 + 4;

std::size_t BitmapBytes(std::size_t count) { return (count + 7) / 8; }

}  // namespace

ResumeJournal StartJournal(const uint8_t (&indexSha256)[kSha256Bytes], const ChunkIndex& index) {
  ResumeJournal journal;
  std::memcpy(journal.indexSha256, indexSha256, kSha256Bytes);
  journal.size = index.size;
  journal.checked.assign(index.chunks.size(), false);
  return journal;
}

bool JournalFits(const ResumeJournal& journal, const uint8_t (&indexSha256)[kSha256Bytes],
                 const ChunkIndex& index) {
  return std::memcmp(journal.indexSha256, indexSha256, kSha256Bytes) == 0 &&
         journal.size == index.size && journal.checked.size() == index.chunks.size();
}

std::string FormatJournal(const ResumeJournal& journal) {
  std::string bytes(kMagic, kMagicBytes);
  bytes.append(reinterpret_cast<const char*>(journal.indexSha256), kSha256Bytes);
  PutLe(&bytes, journal.size, 8);
  PutLe(&bytes, journal.checked.size(), 4);
  std::string bitmap(BitmapBytes(journal.checked.size()), '\0');
  for (std::size_t i = 0; i < journal.checked.size(); ++i) {
    if (journal.checked[i]) bitmap[i / 8] = static_cast<char>(bitmap[i / 8] | (1 << (i % 8)));
  }
  return bytes + bitmap;
}

bool JournalByte(const ResumeJournal& journal, std::size_t chunk, uint64_t* offset, uint8_t* byte) {
  if (chunk >= journal.checked.size()) return false;
  const std::size_t first = chunk / 8 * 8;
  uint8_t bits = 0;
  for (std::size_t i = first; i < first + 8 && i < journal.checked.size(); ++i) {
    if (journal.checked[i]) bits = static_cast<uint8_t>(bits | (1 << (i - first)));
  }
  *offset = kHeaderBytes + chunk / 8;
  *byte = bits;
  return true;
}

bool ParseJournal(const void* data, std::size_t size, ResumeJournal* out) {
  *out = ResumeJournal();
  if (data == nullptr || size < kHeaderBytes || std::memcmp(data, kMagic, kMagicBytes) != 0)
    return false;
  LeReader in(static_cast<const uint8_t*>(data) + kMagicBytes, size - kMagicBytes);
  ResumeJournal journal;
  uint64_t count = 0;
  if (!in.Bytes(journal.indexSha256, kSha256Bytes) || !in.Number(8, &journal.size) ||
      !in.Number(4, &count) || count > kChunkIndexMaxChunks || in.left() != BitmapBytes(count))
    return false;
  journal.checked.resize(static_cast<std::size_t>(count));
  for (std::size_t byte = 0; byte < BitmapBytes(journal.checked.size()); ++byte) {
    uint64_t bits = 0;
    in.Number(1, &bits);
    for (std::size_t bit = 0; bit < 8; ++bit) {
      const std::size_t i = byte * 8 + bit;
      const bool set = (bits >> bit) & 1;
      if (i >= journal.checked.size()) {
        if (set) return false;  // one spelling of each journal
      } else {
        journal.checked[i] = set;
      }
    }
  }
  *out = std::move(journal);
  return true;
}

}  // namespace ul
