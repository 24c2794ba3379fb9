#include "formats/patches/patch_decoder.h"

// The stable output buffer and the window limit belong to zstd's
// experimental interface; the library is linked statically from the very
// sources whose header this is (cmake/zstd.cmake).
#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>

#include "formats/patches/patch_list.h"

namespace ul {

bool PatchFrameFits(const void* head, std::size_t n, uint64_t size) {
  ZSTD_frameHeader h;
  if (head == nullptr || ZSTD_getFrameHeader(&h, head, n) != 0) return false;
  return h.frameType == ZSTD_frame && h.frameContentSize == size && size > 0 &&
         h.windowSize <= (uint64_t{1} << kPatchWindowLogMax) && h.checksumFlag == 1 && h.dictID == 0;
}

PatchDecoder::PatchDecoder() = default;

PatchDecoder::~PatchDecoder() { ZSTD_freeDCtx(dctx_); }

bool PatchDecoder::Start(const void* base, std::size_t baseSize, void* out, std::size_t outSize) {
  ZSTD_freeDCtx(dctx_);
  dctx_ = ZSTD_createDCtx();
  out_ = out;
  outSize_ = outSize;
  written_ = 0;
  ended_ = false;
  return dctx_ != nullptr && out != nullptr && outSize > 0 &&
         !ZSTD_isError(ZSTD_DCtx_setParameter(dctx_, ZSTD_d_windowLogMax, static_cast<int>(kPatchWindowLogMax))) &&
         !ZSTD_isError(ZSTD_DCtx_setParameter(dctx_, ZSTD_d_stableOutBuffer, 1)) &&
         !ZSTD_isError(ZSTD_DCtx_refPrefix(dctx_, base, baseSize));
}

bool PatchDecoder::Feed(const void* piece, std::size_t n) {
  if (dctx_ == nullptr) return false;
  ZSTD_inBuffer in = {piece, n, 0};
  // The same output buffer every time, as the stable buffer requires; the
  // decoder moves its position.
  ZSTD_outBuffer out = {out_, outSize_, written_};
  while (in.pos < in.size) {
    if (ended_) return false;  // bytes after the frame
    const std::size_t inBefore = in.pos, outBefore = out.pos;
    const std::size_t r = ZSTD_decompressStream(dctx_, &out, &in);
    written_ = out.pos;
    if (ZSTD_isError(r)) return false;
    if (r == 0) {
      ended_ = true;
    } else if (in.pos == inBefore && out.pos == outBefore) {
      return false;  // no room left for what the frame still makes
    }
  }
  return true;
}

}  // namespace ul
