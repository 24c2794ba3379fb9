#include "formats/patches/patch_journal.h"

#include <cstring>

namespace ul {

std::string FormatPatchJournal(const PatchEntry& patch) {
  return "ulmet-patch-journal 1 " + Hex(patch.patchSha256, kSha256Bytes) + " " + std::to_string(patch.patchSize) +
         "\n";
}

bool PatchJournalNames(const char* data, std::size_t size, const PatchEntry& patch) {
  const std::string expected = FormatPatchJournal(patch);
  return data != nullptr && size == expected.size() && size <= kPatchJournalMaxBytes &&
         std::memcmp(data, expected.data(), size) == 0;
}

}  // namespace ul
