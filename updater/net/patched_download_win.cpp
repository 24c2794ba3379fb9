#include "net/patched_download_win.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "common/pause.h"
#include "common/trace.h"
#include "formats/base/bounded.h"
#include "formats/base/partial_names.h"
#include "formats/base/safe_path.h"
#include "formats/chunks/transfer_plan.h"
#include "formats/patches/patch_decoder.h"
#include "formats/patches/patch_journal.h"
#include "formats/trust/file_hasher.h"
#include "formats/trust/release_check.h"
#include "formats/trust/release_crypto.h"
#include "net/digest_thread_win.h"
#include "net/download_progress_win.h"
#include "net/mapped_file_win.h"
#include "net/offset_file_win.h"
#include "net/range_fetcher_win.h"
#include "net/temp_fetch_win.h"

namespace {

// The patch goes to the decoder in pieces of this size.
constexpr uint32_t kPieceBytes = 128u << 10;

// The names beside the file a patch makes.
struct PatchNames {
  char partial[ul::kTextCap];
  char journal[ul::kTextCap];
  char output[ul::kTextCap];
  char earlier[ul::kTextCap];
};

bool NamesBeside(const char* localPath, PatchNames* n) {
  if (std::strlen(localPath) + sizeof ul::kPatchJournalSuffix - 1 > ul::kLongestPath) return false;
  ul::Format(n->partial, "%s%s", localPath, ul::kPatchPartialSuffix);
  ul::Format(n->journal, "%s%s", localPath, ul::kPatchJournalSuffix);
  ul::Format(n->output, "%s%s", localPath, ul::kPatchOutputSuffix);
  ul::Format(n->earlier, "%s%s", localPath, ul::kChunkEarlierSuffix);
  return true;
}

void RemovePartial(const PatchNames& n) {
  DeleteFileA(n.partial);
  DeleteFileA(n.journal);
}

// One 1 ms pause after every `every` bytes counted, as the start's
// comparison pauses after its reads.
class Pacer {
 public:
  explicit Pacer(uint32_t every) : every_(every < FileHasher::kChunkSize ? FileHasher::kChunkSize : every) {}
  void Count(uint64_t bytes) {
    for (since_ += bytes; since_ >= every_; since_ -= every_) ul::PauseOneMillisecond();
  }
  static void AfterChunk(void* self) { static_cast<Pacer*>(self)->Count(FileHasher::kChunkSize); }

 private:
  uint64_t every_;
  uint64_t since_ = 0;
};

// Both digests of the new file, taken from its view as the decoder writes
// it: nothing is read again to check it.
class NewFileDigests {
 public:
  NewFileDigests(const unsigned char* view, uint32_t pace) : view_(view), pacer_(pace) { sha_.Start(); }
  bool Up(std::size_t written) {
    while (hashed_ < written) {
      const std::size_t n = std::min<std::size_t>(written - hashed_, 1u << 20);
      if (!sha_.Add(view_ + hashed_, n)) return false;  // on its own thread, beside the chained digest
      md5_->Add(view_ + hashed_, n);
      hashed_ += n;
      pacer_.Count(n);
    }
    return true;
  }
  bool Finish(uint8_t (&sha)[ul::kSha256Bytes], char (&md5)[ChainedDigest::kDigestChars + 1]) {
    const bool chained = md5_->Finish(md5);
    return sha_.Finish(sha) && chained;
  }

 private:
  const unsigned char* view_;
  Pacer pacer_;
  std::size_t hashed_ = 0;
  std::unique_ptr<ChainedDigest> md5_{new ChainedDigest()};
  Sha256Thread sha_;
};

// A range's bytes onto the end of the partial patch, the bar moving with them.
class PatchSink : public RangeSink {
 public:
  PatchSink(ul::OffsetFile& file, uint64_t at, DownloadProgress& progress) : file_(file), at_(at), progress_(progress) {}
  bool Take(const char* data, DWORD n) override {
    if (!file_.WriteAt(at_, data, n)) return false;
    at_ += n;
    progress_.Received(at_);
    return true;
  }
  uint64_t at() const { return at_; }

 private:
  ul::OffsetFile& file_;
  uint64_t at_;
  DownloadProgress& progress_;
};

// How many of the patch's first bytes an earlier run left: the partial
// file's size when the journal names this patch, else none, and what the
// earlier run left goes.
uint64_t EarlierBytes(const PatchNames& n, const ul::PatchEntry& e) {
  ul::OffsetFile journal, partial;
  char text[ul::kPatchJournalMaxBytes + 1];
  uint64_t journalSize = 0, have = 0;
  const bool fits = journal.Open(n.journal, false) && journal.Size(&journalSize) &&
                    journalSize <= ul::kPatchJournalMaxBytes &&
                    journal.ReadAt(0, text, static_cast<uint32_t>(journalSize)) &&
                    ul::PatchJournalNames(text, static_cast<std::size_t>(journalSize), e) &&
                    partial.Open(n.partial, false) && partial.Size(&have) && have <= e.patchSize;
  journal.Close();
  partial.Close();
  if (fits) return have;
  RemovePartial(n);
  return 0;
}

// Copies the first bytes of from into to.
bool CopyBytes(ul::OffsetFile& from, ul::OffsetFile& to, uint64_t bytes) {
  std::vector<char> piece(kPieceBytes);
  for (uint64_t at = 0; at < bytes;) {
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(piece.size(), bytes - at));
    if (!from.ReadAt(at, piece.data(), n) || !to.WriteAt(at, piece.data(), n)) return false;
    at += n;
  }
  return true;
}

// The partial patch and its journal, ready to be written on. In a build
// with a release key both are made new, so that nothing planted under
// their names is written into; what an earlier run fetched is copied over
// from its partial file, set aside. Without a key the partial file is
// written on in place, as the chunk transfer does. Null, or why not.
const char* OpenPartial(bool keyed, const PatchNames& n, const ul::PatchEntry& e, uint64_t have,
                        ul::OffsetFile& partial) {
  ul::OffsetFile journal;
  if (keyed && have > 0) {
    ul::OffsetFile earlier;
    DeleteFileA(n.earlier);
    const bool copied = MoveFileExA(n.partial, n.earlier, MOVEFILE_REPLACE_EXISTING) &&
                        earlier.Open(n.earlier, false) && partial.Create(n.partial) && CopyBytes(earlier, partial, have);
    earlier.Close();
    DeleteFileA(n.earlier);
    if (!copied) return "the partial patch of an earlier run cannot be set aside";
  } else if (!(keyed ? partial.Create(n.partial) : partial.Open(n.partial, true)) || !partial.SetSize(have)) {
    return "the partial patch cannot be made";
  }
  const std::string text = ul::FormatPatchJournal(e);
  if (!(keyed ? journal.Create(n.journal) : journal.Open(n.journal, true)) || !journal.SetSize(0) ||
      !journal.WriteAt(0, text.data(), static_cast<uint32_t>(text.size())))
    return "the patch's journal cannot be written";
  return nullptr;
}

// The fetched patch against its entry (and the signed release's record of
// it): its size, its SHA-256 and its frame's header. Null, or why not.
const char* CheckPatch(ul::OffsetFile& partial, const ul::PatchEntry& e, const ul::ReleaseFile* record) {
  ul::Sha256 sha;
  uint8_t digest[ul::kSha256Bytes];
  uint64_t size = 0;
  std::vector<char> piece(kPieceBytes);
  if (!partial.Size(&size) || size != e.patchSize) return "its patch has another size than the list says";
  for (uint64_t at = 0; at < size;) {
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(piece.size(), size - at));
    if (!partial.ReadAt(at, piece.data(), n) || !sha.Update(piece.data(), n)) return "its patch cannot be read";
    at += n;
  }
  if (!sha.Finish(digest) || std::memcmp(digest, e.patchSha256, sizeof digest) != 0)
    return "its patch differs from the list";
  if (record != nullptr && !ul::MatchesRecord(*record, size, digest)) return "its patch differs from the signed release";
  const uint32_t head = static_cast<uint32_t>(std::min<uint64_t>(size, ul::kPatchHeadBytes));
  if (!partial.ReadAt(0, piece.data(), head) || !ul::PatchFrameFits(piece.data(), head, e.size))
    return "its patch does not make a file of the list's size";
  return nullptr;
}

bool RoomOnDrive(const char* path, uint64_t size) {
  char folder[ul::kTextCap];
  ul::Copy(folder, path);
  char* slash = std::strrchr(folder, '\\');
  if (slash != nullptr) slash[1] = '\0';
  ULARGE_INTEGER available;
  return !GetDiskFreeSpaceExA(folder, &available, nullptr, nullptr) || available.QuadPart >= size;
}

}  // namespace

// One file made by patch: where it goes and what it must become.
struct CPatchedDownload::Job {
  const char* name;
  const char* objectPath;
  const char* basePath;
  const char* localPath;
  const char* md5Hex;
  DownloadProgress& progress;
  PatchNames names;
  const ul::PatchEntry* entry = nullptr;
  std::string patchPath;
  const ul::ReleaseFile* record = nullptr;  // the new file's, in a keyed build
  uint64_t kept = 0;                        // bytes of the patch an earlier run fetched
  uint64_t fetched = 0;
  DWORD applyMs = 0;
  uint8_t sha[ul::kSha256Bytes] = {0};            // the new file's, once made
  char md5[ChainedDigest::kDigestChars + 1] = {0};
};

CPatchedDownload::CPatchedDownload(const ul::ReleaseManifest* release) : release_(release) {}

bool CPatchedDownload::LoadList(const char* host, const char* listPath) {
  loaded_ = false;
  if (listPath == nullptr || listPath[0] == '\0') return false;
  std::string bytes;
  if (!FetchSmallFile(release_, host, listPath, "ULPatchList.dat_", ul::kPatchListMaxBytes, &bytes) ||
      !list_.Parse(bytes.data(), bytes.size())) {
    DebugTrace("Patches: no patch list at %s; no file is made from a patch", listPath);
    return false;
  }
  listPath_ = listPath;
  loaded_ = true;
  return true;
}

void CPatchedDownload::Forget(const char* localPath) {
  PatchNames n;
  if (!NamesBeside(localPath, &n)) return;
  RemovePartial(n);
  DeleteFileA(n.output);
}

// The patch for the installed copy: by the digest the record holds for it,
// or by the one read here when some patch has a base of its size.
const char* CPatchedDownload::FindPatch(Job& job) {
  char md5[ChainedDigest::kDigestChars + 1] = {0};
  if (copies_ == nullptr || !copies_->Unchanged(job.basePath, md5)) {
    WIN32_FILE_ATTRIBUTE_DATA a;
    if (!GetFileAttributesExA(job.basePath, GetFileExInfoStandard, &a)) return "no installed copy";
    const uint64_t size = (static_cast<uint64_t>(a.nFileSizeHigh) << 32) | a.nFileSizeLow;
    if (!list_.HasBaseOfSize(job.name, size)) return "no patch from an installed copy of its size";
    FileHasher hasher;
    Pacer pacer(digestBytes_);
    hasher.SetChunkHook(&Pacer::AfterChunk, &pacer);
    if (!hasher.ComputeFileDigest(job.basePath, md5)) return "the installed copy cannot be read";
  }
  job.entry = list_.Find(job.name, md5);
  if (job.entry == nullptr) return "no patch from its installed copy";
  if (!ul::PatchPath(listPath_.c_str(), job.entry->patch, &job.patchPath)) return "its patch has no path";
  job.record = release_ != nullptr ? release_->Find(job.objectPath) : nullptr;
  if (release_ != nullptr && (job.record == nullptr || job.record->size != job.entry->size))
    return "its patch makes another file than the signed release's";
  if (!NamesBeside(job.localPath, &job.names)) return "its path is too long for a partial file";
  return nullptr;
}

const char* CPatchedDownload::FetchPatch(const char* host, Job& job, bool* keep) {
  const ul::PatchEntry& e = *job.entry;
  *keep = true;  // a failure before the transfer leaves what an earlier run fetched
  job.kept = EarlierBytes(job.names, e);
  ul::OffsetFile partial;
  const char* why = OpenPartial(release_ != nullptr, job.names, e, job.kept, partial);
  if (why != nullptr) return why;
  if (job.kept < e.patchSize) {
    CRangeFetcher fetcher(release_);
    fetcher.PaceReads(readBytes_);
    if (!fetcher.Open(host, job.patchPath.c_str(), e.patchSize)) return "no connection for its patch";
    PatchSink sink(partial, job.kept, job.progress);
    for (uint64_t at = job.kept; at < e.patchSize;) {
      const uint64_t n = std::min<uint64_t>(ul::kRangeRequestMaxBytes, e.patchSize - at);
      const int got = fetcher.FetchRange(at, n, sink);
      job.fetched = fetcher.received();
      if (got != kRangeReceived || sink.at() != at + n) {
        *keep = got == kRangeBroken;  // the bytes that arrived stay for the next run
        return got == kRangeRefused  ? "the server did not answer a range of its patch as asked"
               : got == kRangeBroken ? "the connection broke inside its patch"
                                     : "its patch cannot be written";
      }
      at += n;
    }
    fetched_ += job.fetched;
  }
  *keep = false;
  return CheckPatch(partial, e, release_ != nullptr ? release_->Find(job.patchPath.c_str()) : nullptr);
}

// The installed copy and the new file mapped, the patch read in pieces.
const char* CPatchedDownload::Apply(Job& job) {
  const ul::PatchEntry& e = *job.entry;
  const DWORD start = GetTickCount();
  ul::MappedFile base, out;
  ul::OffsetFile patch;
  if (!base.OpenRead(job.basePath) || base.size() != e.baseSize)
    return "the installed copy cannot be mapped, or is no longer the patch's base";
  if (!RoomOnDrive(job.names.output, e.size)) return "the client's drive has no room for its new copy";
  if (!out.Create(job.names.output, e.size) || !patch.Open(job.names.partial, false)) return "the new file cannot be made";
  ul::PatchDecoder decoder;
  if (!decoder.Start(base.data(), static_cast<std::size_t>(base.size()), out.writable(),
                     static_cast<std::size_t>(out.size())))
    return "no decoder";
  NewFileDigests digests(out.data(), digestBytes_);
  std::vector<char> piece(kPieceBytes);
  for (uint64_t at = 0; at < e.patchSize;) {
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(piece.size(), e.patchSize - at));
    if (!patch.ReadAt(at, piece.data(), n) || !decoder.Feed(piece.data(), n) || !digests.Up(decoder.written()))
      return "the patch does not apply to the installed copy";
    at += n;
    job.progress.Received(e.patchSize + decoder.written());
  }
  if (!decoder.Finished() || !digests.Finish(job.sha, job.md5)) return "the patch does not apply to the installed copy";
  job.applyMs = GetTickCount() - start;
  return nullptr;
}

// The new file must be the list's, the release's and the hash list's
// before it takes the installed copy's place.
const char* CPatchedDownload::PutInPlace(const Job& job) {
  if (std::memcmp(job.sha, job.entry->sha256, ul::kSha256Bytes) != 0) return "the new file differs from the list";
  if (job.record != nullptr && !ul::MatchesRecord(*job.record, job.entry->size, job.sha))
    return "the new file differs from the signed release";
  if (job.md5Hex != nullptr && !ul::EqualsNoCase(job.md5, job.md5Hex)) return "the new file differs from the hash list";
  if (!MoveFileExA(job.names.output, job.localPath, MOVEFILE_REPLACE_EXISTING))
    return "the new file cannot take the installed copy's place";
  return nullptr;
}

int CPatchedDownload::Download(const char* host, const char* objectPath, const char* name, const char* basePath,
                               const char* localPath, const char* md5Hex, HWND fileBar, HWND totalBar) {
  DownloadProgress progress(fileBar, totalBar);
  Job job{name, objectPath, basePath, localPath, md5Hex, progress, {}, nullptr, {}};
  const char* why = loaded_ ? FindPatch(job) : "no patch list";
  if (why != nullptr) {
    DebugTrace("Patches: %s made another way: %s", name, why);
    return kPatchOtherWay;
  }
  progress.SetLength(job.entry->patchSize + job.entry->size);
  bool keep = false;
  why = FetchPatch(host, job, &keep);
  if (why == nullptr) why = Apply(job);
  if (why == nullptr) why = PutInPlace(job);
  DeleteFileA(job.names.output);
  if (why != nullptr) {
    if (!keep) RemovePartial(job.names);
    DebugTrace("Patches: %s made another way: %s", name, why);
    return kPatchOtherWay;
  }
  RemovePartial(job.names);
  if (copies_ != nullptr) copies_->Made(localPath, job.md5);
  DebugTrace("Patches: %s made from its installed copy: %llu bytes of its patch fetched, %llu kept from an earlier "
             "run, %llu bytes written in %lu ms",
             name, static_cast<unsigned long long>(job.fetched), static_cast<unsigned long long>(job.kept),
             static_cast<unsigned long long>(job.entry->size), static_cast<unsigned long>(job.applyMs));
  return kPatchDone;
}
