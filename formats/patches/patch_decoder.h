// A patch (patch_list.h) applied to its base with bounded memory. The base
// and the new file lie in memory the caller provides (the updater maps both
// files): the decoder takes the base as its prefix and writes the new file
// straight into its place (zstd's stable output buffer), so it keeps no
// window of its own, some hundred KB whatever the files' sizes. The patch
// is handed over in pieces of any size, so it need not be in memory whole.
//
//   if (!PatchFrameFits(head, headBytes, entry.size)) ... refuse before mapping anything
//   PatchDecoder d;
//   if (!d.Start(base, baseSize, out, entry.size)) ...
//   while (...) if (!d.Feed(piece, n)) ...        // d.written() grows
//   if (!d.Finished()) ...                        // then out holds the new file
//
// No Windows headers here: this builds natively for the sanitizer runs.
#pragma once

#include <cstddef>
#include <cstdint>

struct ZSTD_DCtx_s;

namespace ul {

// Enough of a patch's first bytes for PatchFrameFits: the largest frame
// header.
constexpr std::size_t kPatchHeadBytes = 18;

// Whether the patch's first n bytes (at least kPatchHeadBytes, or the whole
// patch) open a frame that makes a file of size bytes: one zstd frame that
// says its content size, and that it is size; a window of at most
// 2^kPatchWindowLogMax bytes; a checksum; no dictionary.
bool PatchFrameFits(const void* head, std::size_t n, uint64_t size);

class PatchDecoder {
 public:
  PatchDecoder();
  ~PatchDecoder();
  PatchDecoder(const PatchDecoder&) = delete;
  PatchDecoder& operator=(const PatchDecoder&) = delete;

  // base: the base's baseSize bytes; out: room for the new file's outSize
  // bytes. Both stay where they are until the decoder is done. False when
  // no decoder can be made.
  bool Start(const void* base, std::size_t baseSize, void* out, std::size_t outSize);
  // Decodes the next piece of the patch. False when it is damaged, needs
  // more room than out, or goes on after its frame.
  bool Feed(const void* piece, std::size_t n);
  // Bytes of out written so far.
  std::size_t written() const { return written_; }
  // The frame has ended, its checksum matched the new bytes (a patch for
  // another base does not), and out is full.
  bool Finished() const { return ended_ && written_ == outSize_; }

 private:
  ZSTD_DCtx_s* dctx_ = nullptr;
  void* out_ = nullptr;
  std::size_t outSize_ = 0;
  std::size_t written_ = 0;
  bool ended_ = false;
};

}  // namespace ul
