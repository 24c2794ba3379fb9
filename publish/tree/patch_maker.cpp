#include "tree/patch_maker.h"

#include <algorithm>
#include <chrono>
#include <vector>

// The stable input buffer and the memory estimate belong to zstd's
// experimental interface; the library is linked statically (cmake/zstd.cmake).
#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>

#include "formats/patches/patch_list.h"
#include "formats/trust/release_crypto.h"
#include "system/disk_names.h"
#include "system/mapped_file.h"

namespace ulp {

namespace {

// The new file goes to the encoder in pieces of this size, and the clock is
// looked at between them.
constexpr std::size_t kPieceBytes = 1 << 20;

struct CCtxOwner {
  ZSTD_CCtx* c = ZSTD_createCCtx();
  ~CCtxOwner() { ZSTD_freeCCtx(c); }
};

struct ParamsOwner {
  ZSTD_CCtx_params* p = ZSTD_createCCtxParams();
  ~ParamsOwner() { ZSTD_freeCCtxParams(p); }
};

// What a 32-bit build can map and allocate at all: its address space less
// the two files.
uint64_t AddressRoom(uint64_t baseSize, uint64_t size) {
  if (sizeof(void*) > 4) return UINT64_MAX;
  const uint64_t room = uint64_t{1536} << 20;
  return baseSize + size >= room ? 0 : room - baseSize - size;
}

bool Set(ZSTD_CCtx* c, ZSTD_cParameter p, int value) { return !ZSTD_isError(ZSTD_CCtx_setParameter(c, p, value)); }

// Long-distance matching with the parameters the library picks itself for
// the window (zstd_ldm.c), given here so that the memory estimate, which
// does not pick them, counts the same tables the encoder makes.
struct LongMatching {
  ZSTD_cParameter parameter;
  int value;
};
std::vector<LongMatching> LongMatchingFor(unsigned windowLog) {
  const int hashLog = std::max(6, static_cast<int>(windowLog) - 7);
  return {{ZSTD_c_enableLongDistanceMatching, 1},
          {ZSTD_c_ldmMinMatch, 64},
          {ZSTD_c_ldmBucketSizeLog, 3},
          {ZSTD_c_ldmHashLog, hashLog},
          {ZSTD_c_ldmHashRateLog, std::max(0, static_cast<int>(windowLog) - hashLog)}};
}

bool Configure(ZSTD_CCtx* c, int level, unsigned windowLog, const MappedFile& base, const MappedFile& target) {
  for (const LongMatching& m : LongMatchingFor(windowLog)) {
    if (!Set(c, m.parameter, m.value)) return false;
  }
  return Set(c, ZSTD_c_compressionLevel, level) && Set(c, ZSTD_c_windowLog, static_cast<int>(windowLog)) &&
         Set(c, ZSTD_c_checksumFlag, 1) &&
         Set(c, ZSTD_c_contentSizeFlag, 1) && Set(c, ZSTD_c_stableInBuffer, 1) &&
         !ZSTD_isError(ZSTD_CCtx_setPledgedSrcSize(c, target.size())) &&
         !ZSTD_isError(ZSTD_CCtx_refPrefix(c, base.data(), base.size()));
}

// Hands target to the encoder piece by piece and writes what comes out.
int Encode(ZSTD_CCtx* c, const MappedFile& target, std::FILE* out, const PatchBudget& budget, MadePatch* made) {
  const auto start = std::chrono::steady_clock::now();
  const auto deadline = start + std::chrono::seconds(budget.seconds);
  std::vector<char> buffer(ZSTD_CStreamOutSize());
  ul::Sha256 sha;
  // The input stays where it lies; only its end moves on (stable input).
  ZSTD_inBuffer in = {target.data(), 0, 0};
  for (;;) {
    in.size = std::min(target.size(), in.pos + kPieceBytes);
    const ZSTD_EndDirective end = in.size == target.size() ? ZSTD_e_end : ZSTD_e_continue;
    ZSTD_outBuffer o = {buffer.data(), buffer.size(), 0};
    const std::size_t left = ZSTD_compressStream2(c, &o, &in, end);
    if (ZSTD_isError(left) || std::fwrite(buffer.data(), 1, o.pos, out) != o.pos || !sha.Update(buffer.data(), o.pos))
      return kPatchFailed;
    made->size += o.pos;
    if (end == ZSTD_e_end && left == 0) break;
    if (std::chrono::steady_clock::now() > deadline) return kPatchTooSlow;
  }
  made->seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return sha.Finish(made->sha256) ? kPatchMade : kPatchFailed;
}

int Make(const MappedFile& base, const MappedFile& target, const std::filesystem::path& out,
         const PatchBudget& budget, MadePatch* made) {
  const uint64_t room = std::min(budget.memoryBytes, AddressRoom(base.size(), target.size()));
  made->level = 0;
  for (int level : {22, 19}) {
    made->memoryBytes = PatchMemory(level, base.size(), target.size());
    if (made->memoryBytes <= room) {
      made->level = level;
      break;
    }
  }
  if (made->level == 0) return kPatchOverBudget;
  CCtxOwner c;
  OwnedFile file = OpenFile(out, "wb");
  if (c.c == nullptr || !file ||
      !Configure(c.c, made->level, PatchWindowLog(base.size(), target.size()), base, target))
    return kPatchFailed;
  const int result = Encode(c.c, target, file.get(), budget, made);
  return result == kPatchMade && !CloseWritten(file) ? kPatchFailed : result;
}

}  // namespace

unsigned PatchWindowLog(uint64_t baseSize, uint64_t size) {
  const uint64_t larger = std::max(baseSize, size);
  unsigned log = ZSTD_WINDOWLOG_MIN;
  while (log < 63 && (uint64_t{1} << log) < larger) ++log;
  return log;
}

uint64_t PatchMemory(int level, uint64_t baseSize, uint64_t size) {
  ZSTD_compressionParameters cp = ZSTD_getCParams(level, size, static_cast<std::size_t>(baseSize));
  cp.windowLog = PatchWindowLog(baseSize, size);
  cp = ZSTD_adjustCParams(cp, size, static_cast<std::size_t>(baseSize));
  cp.windowLog = PatchWindowLog(baseSize, size);
  ZSTD_parameters params;
  params.cParams = cp;
  params.fParams = {1, 1, 0};
  ParamsOwner p;
  if (p.p == nullptr || ZSTD_isError(ZSTD_CCtxParams_init_advanced(p.p, params))) return UINT64_MAX;
  for (const LongMatching& m : LongMatchingFor(cp.windowLog)) {
    if (ZSTD_isError(ZSTD_CCtxParams_setParameter(p.p, m.parameter, m.value))) return UINT64_MAX;
  }
  return ZSTD_estimateCCtxSize_usingCCtxParams(p.p);
}

int MakePatch(const std::filesystem::path& base, const std::filesystem::path& target,
              const std::filesystem::path& out, const PatchBudget& budget, MadePatch* made) {
  *made = MadePatch();
  MappedFile b, t;
  if (!b.Open(base) || !t.Open(target)) return kPatchFailed;
  if (b.size() > ul::kPatchMaxFileBytes || t.size() > ul::kPatchMaxFileBytes) return kPatchTooBig;
  const int result = Make(b, t, out, budget, made);
  std::error_code ec;
  if (result != kPatchMade) std::filesystem::remove(out, ec);
  return result;
}

const char* PatchRefusal(int result) {
  switch (result) {
    case kPatchMade: return "made";
    case kPatchTooBig: return "larger than a patch is made for";
    case kPatchOverBudget: return "it would need more memory than patch-memory allows";
    case kPatchTooSlow: return "it took longer than patch-seconds allows";
    default: return "the encoder failed, or a file could not be read or written";
  }
}

}  // namespace ulp
