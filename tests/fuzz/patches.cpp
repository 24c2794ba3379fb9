// The patch list, the patch journal and the patch decoder over any bytes.
// The first byte picks the reader. Besides memory safety: a list is read
// only when it is exactly the bytes the writer makes of what was read, and
// a refused one leaves nothing behind; a journal names only the patch it was
// written for; the decoder (its input: two bytes of base length, the base,
// then the patch) finishes only when the patch is one frame that zstd's own
// one-shot decoding, with the base as its prefix, makes into exactly the
// bytes it made, and it never writes past the room it was given.
#include <cstring>
#include <string>
#include <vector>

#include <zstd.h>

#include "formats/patches/patch_decoder.h"
#include "formats/patches/patch_journal.h"
#include "formats/patches/patch_list.h"
#include "fuzz_support.h"

namespace {

void List(const char* data, std::size_t size) {
  ul::PatchList list;
  if (!list.Parse(data, size)) {
    FUZZ_CHECK(list.entries().empty(), std::to_string(size));
    return;
  }
  std::string again;
  FUZZ_CHECK(ul::FormatPatchList(list.entries(), &again), "formats back");
  FUZZ_CHECK(again == std::string(data, size), fuzz::Shown(std::string(data, size)));
  for (const ul::PatchEntry& e : list.entries()) {
    FUZZ_CHECK(list.Find(e.target.c_str(), e.baseMd5) == &e, e.target);
    const std::string journal = ul::FormatPatchJournal(e);
    FUZZ_CHECK(ul::PatchJournalNames(journal.data(), journal.size(), e), e.patch);
  }
}

void Decode(const uint8_t* data, std::size_t size) {
  if (size < 2) return;
  const std::size_t baseSize = std::min<std::size_t>(size - 2, data[0] | (data[1] << 8));
  const uint8_t* base = data + 2;
  const uint8_t* patch = base + baseSize;
  const std::size_t patchSize = size - 2 - baseSize;
  const unsigned long long room = ZSTD_getFrameContentSize(patch, patchSize);
  if (room == ZSTD_CONTENTSIZE_ERROR || room == ZSTD_CONTENTSIZE_UNKNOWN || room == 0 || room > (1u << 20)) return;
  std::vector<char> out(room + 1, '\x5a');  // one byte beyond the room, which must stay
  ul::PatchDecoder d;
  FUZZ_CHECK(d.Start(base, baseSize, out.data(), room), "start");
  bool fed = true;
  for (std::size_t at = 0; fed && at < patchSize; at += 777) fed = d.Feed(patch + at, std::min<std::size_t>(777, patchSize - at));
  FUZZ_CHECK(out[room] == '\x5a' && d.written() <= room, "within its room");
  if (!fed || !d.Finished()) return;
  std::vector<char> reference(room);
  ZSTD_DCtx* z = ZSTD_createDCtx();
  const std::size_t n = ZSTD_isError(ZSTD_DCtx_refPrefix(z, base, baseSize))
                            ? 0
                            : ZSTD_decompressDCtx(z, reference.data(), room, patch, patchSize);
  ZSTD_freeDCtx(z);
  FUZZ_CHECK(!ZSTD_isError(n) && n == room && std::memcmp(reference.data(), out.data(), room) == 0, "as zstd makes it");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const char* text = reinterpret_cast<const char*>(data + 1);
  if (data[0] < 0x80) {
    List(text, size - 1);
  } else if (data[0] < 0xc0) {
    ul::PatchEntry e;
    e.patchSize = 1234;
    FUZZ_CHECK(!ul::PatchJournalNames(text, size - 1, e) || ul::FormatPatchJournal(e) == std::string(text, size - 1),
               "names only its own patch");
  } else {
    Decode(data + 1, size - 1);
  }
  return 0;
}
