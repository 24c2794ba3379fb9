#include "net/chunked_download_win.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "formats/chunks/chunk_index.h"
#include "formats/chunks/range_assembler.h"
#include "formats/chunks/resume_journal.h"
#include "formats/chunks/transfer_plan.h"
#include "formats/base/bounded.h"
#include "formats/base/owned_win.h"
#include "formats/base/partial_names.h"
#include "formats/base/safe_path.h"
#include "common/trace.h"
#include "files/dir_tree_win.h"
#include "formats/trust/file_hasher.h"
#include "formats/trust/release_check.h"
#include "formats/trust/release_crypto.h"
#include "formats/trust/release_manifest.h"
#include "net/temp_fetch_win.h"
#include "net/digest_thread_win.h"
#include "net/download_progress_win.h"
#include "net/held_file_win.h"
#include "net/in_place_chunks_win.h"
#include "net/installed_chunks_win.h"
#include "net/journal_file_win.h"
#include "net/offset_file_win.h"
#include "net/range_fetcher_win.h"

namespace {

// Pieces in which installed copies and partial files are read: one of the
// largest chunks.
constexpr uint32_t kPieceBytes = ul::kChunkMaxBytes;

bool Sha256Of(const void* data, std::size_t n, uint8_t (&digest)[ul::kSha256Bytes]) {
  ul::Sha256 sha;
  return sha.Update(data, n) && sha.Finish(digest);
}

bool SameDigest(const uint8_t* a, const uint8_t* b) { return std::memcmp(a, b, ul::kSha256Bytes) == 0; }

// The files a transfer reads and writes.
struct TransferFiles {
  ul::OffsetFile partial;    // the new file as it is made
  JournalFile journal;       // which of its chunks are checked
  ul::OffsetFile installed;  // the installed copy, where there is one
  bool haveInstalled = false;
  // The installed copy is changed in place (net/in_place_chunks_win.h):
  // only the chunks that differ go through the partial file.
  bool inPlace = false;
  // In a build with a release key, an earlier run's partial file set aside:
  // its checked chunks are copied into the partial file made new.
  ul::OffsetFile earlier;
  bool haveEarlier = false;
  char earlierPath[ul::kTextCap] = {0};

  // What the transfer set aside goes when it is over, however it ended.
  ~TransferFiles() {
    earlier.Close();
    if (earlierPath[0] != '\0') DeleteFileA(earlierPath);
  }
};

// One new file made by chunks: from the plan, in the new file's order, so
// that its chained digest grows as the chunks fall into place. Changed in
// place, only the fetched chunks go into the partial file, and the digest
// is read from the installed copy once they are written over it.
//
// Every chunk is checked against the index's SHA-256 on its way in, and
// the chunks tile the file: a fetched chunk as it arrives, a chunk kept
// from an earlier run as it is read back, a chunk of the installed copy
// through the index of that copy (cut from it through the handle the copy
// is read with, which lets no one write meanwhile; or kept from the run
// that made it, while the record vouches that the file is unchanged). The
// file is therefore the index's without a SHA-256 of the whole, which would
// read every byte once more (under Wine about 8 s for 2 GB); the index
// itself is the signed release's in a keyed build, and the chained digest
// of the result is the hash list's.
class ChunkTransfer : public ul::CheckedChunkSink, public RangeSink {
 public:
  ChunkTransfer(const ul::ChunkIndex& index, const ul::TransferPlan& plan, ul::ResumeJournal& journal,
                TransferFiles& files, DownloadProgress& progress)
      : index_(index), plan_(plan), journal_(journal), partial_(files.partial), files_(files), progress_(progress),
        piece_(kPieceBytes) {
    if (!files.inPlace) md5_.Start();
  }

  // kChunksDone, or kChunksWhole with why not in *why, and *keep saying
  // whether the partial file is worth a later run.
  int Run(CRangeFetcher& fetcher, const char** why, bool* keep) {
    *keep = false;
    std::size_t request = 0;
    for (std::size_t i = 0; i < index_.chunks.size();) {
      const ul::PlannedChunk& planned = plan_.chunks[i];
      const ul::ChunkRecord& chunk = index_.chunks[i];
      if (planned.source == ul::kFromServer) {
        if (request >= plan_.requests.size() || plan_.requests[request].firstChunk != i) {
          *why = "the plan lost its way";
          return kChunksWhole;
        }
        const ul::RangeRequest& r = plan_.requests[request++];
        const int got = Fetch(fetcher, r);
        if (got != kRangeReceived) {
          *why = got == kRangeRefused  ? "the server did not answer a range as asked"
                 : got == kRangeBroken ? "the connection broke inside a range"
                                       : "a fetched chunk differs from its digest, or cannot be written";
          // What was checked so far stays for the next run, unless the
          // server sent wrong bytes.
          *keep = got == kRangeBroken;
          return kChunksWhole;
        }
        i += r.chunkCount;
        continue;
      }
      if (files_.inPlace) {
        // Where it is, or in the partial file already: written over the
        // installed copy's once every changed chunk is there.
        done_ += chunk.length;
        ++i;
        continue;
      }
      *why = planned.source == ul::kFromPartial ? Kept(i) : Copied(i, planned.installedOffset);
      if (*why != nullptr) return kChunksWhole;
      if (!md5_.Add(piece_.data(), chunk.length)) {
        *why = "no digest";
        return kChunksWhole;
      }
      done_ += chunk.length;
      progress_.Received(done_);
      ++i;
    }
    if (files_.inPlace) {
      // The partial file holds every changed chunk now, for a later run too.
      *keep = true;
      *why = ApplyInPlace(index_, plan_, partial_, files_.installed, piece_, md5Hex_);
      return *why == nullptr ? kChunksDone : kChunksWhole;
    }
    if (!md5_.Finish(md5Hex_)) {
      *why = "no digest";
      return kChunksWhole;
    }
    return kChunksDone;
  }

  uint64_t copied() const { return copied_; }
  // The new file's chained digest (the hash list's kind), once Run is done.
  const char* md5Hex() const { return md5Hex_; }

 private:
  // A chunk an earlier run checked, read back into piece_ and checked once
  // more: the chained digest needs its bytes anyway, and a partial file
  // changed since is never taken. Set aside (a keyed build), it is written
  // into the new partial file and marked there. Null, or why not.
  const char* Kept(std::size_t i) {
    const ul::ChunkRecord& chunk = index_.chunks[i];
    ul::OffsetFile& from = files_.haveEarlier ? files_.earlier : partial_;
    uint8_t d[ul::kSha256Bytes];
    if (!from.ReadAt(chunk.offset, piece_.data(), chunk.length) || !Sha256Of(piece_.data(), chunk.length, d) ||
        !SameDigest(d, chunk.sha256))
      return "the partial file of an earlier run differs from its journal";
    if (!files_.haveEarlier) return nullptr;
    if (!partial_.WriteAt(chunk.offset, piece_.data(), chunk.length)) return "the partial file cannot be written";
    return Mark(i) ? nullptr : "the journal cannot be written";
  }

  // A chunk the installed copy holds, copied into piece_ and the partial
  // file: the index of the installed copy vouches for these bytes. Null, or
  // why not.
  const char* Copied(std::size_t i, uint64_t installedOffset) {
    const ul::ChunkRecord& chunk = index_.chunks[i];
    if (!files_.haveInstalled || !files_.installed.ReadAt(installedOffset, piece_.data(), chunk.length) ||
        !partial_.WriteAt(chunk.offset, piece_.data(), chunk.length))
      return "the installed copy cannot be read, or the partial file written";
    copied_ += chunk.length;
    return Mark(i) ? nullptr : "the journal cannot be written";
  }

  int Fetch(CRangeFetcher& fetcher, const ul::RangeRequest& r) {
    ul::RangeAssembler in(index_, r, *this);
    assembler_ = &in;
    inRequest_ = 0;
    const int got = fetcher.FetchRange(r.offset, r.length, *this);
    assembler_ = nullptr;
    if (got == kRangeReceived && !in.Complete()) return kRangeStopped;
    return got;
  }

  // RangeSink: the bytes of a range as they arrive.
  bool Take(const char* data, DWORD length) override {
    inRequest_ += length;
    progress_.Received(done_ + inRequest_);
    return assembler_ != nullptr && assembler_->Take(data, length);
  }

  // CheckedChunkSink: a fetched chunk that matched its digest.
  bool ChunkChecked(std::size_t chunk, const uint8_t* data, uint32_t length) override {
    if (!partial_.WriteAt(index_.chunks[chunk].offset, data, length) || (!files_.inPlace && !md5_.Add(data, length)))
      return false;
    done_ += length;
    inRequest_ = inRequest_ > length ? inRequest_ - length : 0;
    return Mark(chunk);
  }

  // The chunk is in the partial file and checked: the journal says so at
  // once, so that a run killed right after keeps it.
  bool Mark(std::size_t chunk) { return files_.journal.Mark(journal_, chunk); }

  const ul::ChunkIndex& index_;
  const ul::TransferPlan& plan_;
  ul::ResumeJournal& journal_;
  ul::OffsetFile& partial_;
  TransferFiles& files_;
  DownloadProgress& progress_;
  std::vector<uint8_t> piece_;
  // On its own thread, beside the copying and the fetching.
  ChainedDigestThread md5_;
  char md5Hex_[ChainedDigest::kDigestChars + 1] = {0};
  ul::RangeAssembler* assembler_ = nullptr;
  uint64_t done_ = 0;
  uint64_t inRequest_ = 0;
  uint64_t copied_ = 0;
};

// The names beside localPath: the partial file and its journal. False when
// either would be too long for the system.
bool PartialNames(const char* localPath, char (&partial)[ul::kTextCap], char (&journal)[ul::kTextCap]) {
  const std::size_t n = std::strlen(localPath);
  if (n + sizeof ul::kChunkJournalSuffix - 1 > ul::kLongestPath ||
      n + sizeof ul::kChunkPartialSuffix - 1 > ul::kLongestPath)
    return false;
  ul::Format(partial, "%s%s", localPath, ul::kChunkPartialSuffix);
  ul::Format(journal, "%s%s", localPath, ul::kChunkJournalSuffix);
  return true;
}

// Whether the client's drive has room for the new copy of size bytes beside
// the old one: what the partial file does not hold yet must be free. An
// index may claim up to some 186 GiB; nothing is reserved for a claim the
// drive cannot hold. When the system does not say, the attempt is made.
bool RoomFor(const char* partial, uint64_t size) {
  uint64_t have = 0;
  ul::OffsetFile earlier;
  if (earlier.Open(partial, false)) earlier.Size(&have);
  earlier.Close();
  char folder[ul::kTextCap];
  ul::Copy(folder, partial);
  char* slash = std::strrchr(folder, '\\');
  if (slash != nullptr) slash[1] = '\0';
  ULARGE_INTEGER available;
  if (!GetDiskFreeSpaceExA(folder, &available, nullptr, nullptr)) return true;
  return have >= size || available.QuadPart >= size - have;
}

void RemovePartial(const char* partial, const char* journal) {
  DeleteFileA(partial);
  DeleteFileA(journal);
}

// The journal of an earlier run for this index, when its partial file is
// still of the new file's size; else a new one, and what the earlier run
// left is gone.
ul::ResumeJournal Resume(const char* partial, const char* journal, const uint8_t (&indexSha)[ul::kSha256Bytes],
                         const ul::ChunkIndex& index) {
  ul::ResumeJournal read;
  ul::OffsetFile j, p;
  uint64_t journalSize = 0, partialSize = 0;
  bool fits = false;
  if (j.Open(journal, false) && j.Size(&journalSize) && journalSize <= ul::kChunkIndexMaxChunks / 8 + 64 &&
      p.Open(partial, false) && p.Size(&partialSize) && partialSize == index.size) {
    std::vector<uint8_t> bytes(static_cast<std::size_t>(journalSize));
    fits = j.ReadAt(0, bytes.data(), static_cast<uint32_t>(bytes.size())) &&
           ul::ParseJournal(bytes.data(), bytes.size(), &read) && ul::JournalFits(read, indexSha, index);
  }
  j.Close();
  p.Close();
  if (fits) return read;
  RemovePartial(partial, journal);
  return ul::StartJournal(indexSha, index);
}

// A new file may go into a folder the release brings, which the whole
// download would make too.
void MakeFolderOf(const char* localPath) {
  const char* slash = std::strrchr(localPath, '\\');
  char folder[ul::kTextCap];
  if (slash == nullptr || slash == localPath || static_cast<std::size_t>(slash - localPath) >= sizeof folder) return;
  ul::FormatBounded(folder, sizeof folder, "%.*s", static_cast<int>(slash - localPath), localPath);
  if (GetFileAttributesA(folder) == INVALID_FILE_ATTRIBUTES) MakeDirectoryPath(folder);
}

// The partial file and its journal, ready to be written. In a build with a
// release key both are made new, so that nothing planted under their names
// (a link to a file elsewhere) is written into; the chunks an earlier run
// checked are then copied from its partial file, set aside under another
// name, and marked again as they arrive. Without a key an earlier partial
// file is written on in place, as ever.
const char* OpenPartial(bool keyed, const char* localPath, const char* partial, const char* journalPath, uint64_t size,
                        ul::ResumeJournal& journal, TransferFiles& files) {
  MakeFolderOf(localPath);
  if (!RoomFor(partial, size)) return "the client's drive has no room for its new copy";
  char* earlier = files.earlierPath;
  ul::FormatBounded(earlier, sizeof files.earlierPath, "%s%s", localPath, ul::kChunkEarlierSuffix);
  DeleteFileA(earlier);
  if (keyed && std::find(journal.checked.begin(), journal.checked.end(), true) != journal.checked.end()) {
    files.haveEarlier = MoveFileExA(partial, earlier, MOVEFILE_REPLACE_EXISTING) && files.earlier.Open(earlier, false);
    std::fill(journal.checked.begin(), journal.checked.end(), false);
    if (!files.haveEarlier) return "the partial file of an earlier run cannot be set aside";
  }
  if (!(keyed ? files.partial.Create(partial) : files.partial.Open(partial, true)))
    return "the partial file cannot be made";
  // Holding only the changed chunks, it takes no more room than they do
  // where the file system can leave the rest out.
  if (files.inPlace) files.partial.MakeSparse();
  if (!files.partial.SetSize(size) || !files.journal.Start(journalPath, journal, keyed))
    return "the partial file cannot be made";
  return nullptr;
}

// The installed copy opened again to be written in place, where the plan
// lets the file change so. Where it cannot be (another program has it
// open), or the file has other names (a hard link: writing would change
// the file under those too), it is read as before and the new file made
// beside it.
bool OpenInPlace(const ul::ChunkIndex& index, const ul::TransferPlan& plan, uint64_t installedSize,
                 const char* localPath, TransferFiles& files) {
  if (!files.haveInstalled || !InPlaceFits(index, plan, installedSize)) return false;
  files.installed.Close();
  files.inPlace = files.installed.Open(localPath, true) && files.installed.Links() == 1;
  if (!files.inPlace) {
    files.installed.Close();
    files.haveInstalled = files.installed.Open(localPath, false);
  }
  return files.inPlace;
}

}  // namespace

CChunkedDownload::CChunkedDownload(const ul::ReleaseManifest* release) : release_(release) {}

bool CChunkedDownload::LoadList(const char* host, const char* listPath) {
  loaded_ = false;
  if (listPath == nullptr || listPath[0] == '\0') return false;
  std::string bytes;
  if (!FetchSmallFile(release_, host, listPath, "ULChunkList.dat_", ul::kChunkListMaxBytes, &bytes) ||
      !list_.Parse(bytes.data(), bytes.size())) {
    DebugTrace("Chunks: no chunk list at %s; every file travels whole", listPath);
    return false;
  }
  listPath_ = listPath;
  loaded_ = true;
  return true;
}

void CChunkedDownload::Forget(const char* localPath) {
  char partial[ul::kTextCap], journal[ul::kTextCap];
  if (PartialNames(localPath, partial, journal)) RemovePartial(partial, journal);
  char earlier[ul::kTextCap], kept[ul::kTextCap];
  ul::Format(earlier, "%s%s", localPath, ul::kChunkEarlierSuffix);
  DeleteFileA(earlier);
  // The file came whole: an index kept for the one before it is no use.
  ul::Format(kept, "%s%s", localPath, ul::kKeptIndexSuffix);
  DeleteFileA(kept);
}

// One file made by its chunks: where it goes and what it must become.
struct CChunkedDownload::Job {
  const char* name;
  const char* localPath;
  const char* md5Hex;
  char partial[ul::kTextCap];
  char journalPath[ul::kTextCap];
  ul::ChunkIndex index;
  uint8_t indexSha[ul::kSha256Bytes];
  std::string indexBytes;                   // as fetched, to keep beside the new file
  char md5[ChainedDigest::kDigestChars + 1] = {0};  // the new file's, once made
  const ul::ReleaseFile* record = nullptr;  // in a keyed build
  bool inPlace = false;                     // the installed copy changed where it is
  uint64_t fetched = 0;
  int requests = 0;
  uint64_t copied = 0;
};

const char* CChunkedDownload::FetchIndex(const char* host, const char* objectPath, Job* job) {
  std::string listed, indexPath;
  std::string& indexBytes = job->indexBytes;
  if (!loaded_ || !list_.ListedName(job->name, &listed) ||
      !ul::ChunkIndexPath(listPath_.c_str(), listed.c_str(), &indexPath))
    return "not in the chunk list";
  if (!PartialNames(job->localPath, job->partial, job->journalPath)) return "its path is too long for a partial file";
  if (!FetchSmallFile(release_, host, indexPath.c_str(), "ULChunkIndex.dat_", ul::kChunkIndexMaxBytes, &indexBytes))
    return "its index cannot be fetched, or differs from the signed release";
  if (!ul::ParseChunkIndex(indexBytes.data(), indexBytes.size(), &job->index) || job->index.size == 0)
    return "its index is refused";
  job->record = release_ != nullptr ? release_->Find(objectPath) : nullptr;
  if (release_ != nullptr && (job->record == nullptr || !ul::MatchesRecord(*job->record, job->index.size, job->index.sha256)))
    return "its index is for another file than the signed release's";
  if (!Sha256Of(indexBytes.data(), indexBytes.size(), job->indexSha)) return "no SHA-256";
  if (copies_ == nullptr) std::string().swap(indexBytes);  // nothing will keep it
  return nullptr;
}

const char* CChunkedDownload::MakePartial(const char* host, const char* objectPath, Job& job, HWND fileBar,
                                          HWND totalBar, bool* keep) {
  *keep = true;  // a failure before the transfer leaves what an earlier run made
  ul::ResumeJournal journal = Resume(job.partial, job.journalPath, job.indexSha, job.index);
  TransferFiles files;
  std::vector<ul::ChunkRecord> have;
  files.haveInstalled = files.installed.Open(job.localPath, false);
  const DWORD missing = files.installed.error();
  if (!files.haveInstalled && missing != ERROR_FILE_NOT_FOUND && missing != ERROR_PATH_NOT_FOUND)
    return "the installed copy cannot be read";
  uint64_t installedSize = 0;
  if (files.haveInstalled && (!files.installed.Size(&installedSize) || !KeptChunks(job, installedSize, &have)) &&
      !ChunksOfInstalledCopy(files.installed, &have))
    return "the installed copy cannot be read";
  ul::TransferPlan plan;
  if (!ul::PlanTransfer(job.index, have, journal.checked, ul::kRangeRequestMaxBytes, &plan))
    return "no plan fits its index";
  have.clear();
  have.shrink_to_fit();
  job.inPlace = release_ == nullptr && OpenInPlace(job.index, plan, installedSize, job.localPath, files);
  DebugTrace("Chunks: %s: %llu bytes kept from an earlier run, %llu copied, %llu to fetch in %d requests", job.name,
             static_cast<unsigned long long>(plan.keptBytes), static_cast<unsigned long long>(plan.copiedBytes),
             static_cast<unsigned long long>(plan.fetchedBytes), static_cast<int>(plan.requests.size()));
  const char* why =
      OpenPartial(release_ != nullptr, job.localPath, job.partial, job.journalPath, job.index.size, journal, files);
  if (why != nullptr) return why;
  CRangeFetcher fetcher(release_);
  fetcher.PaceReads(readBytes_);
  if (!plan.requests.empty() && !fetcher.Open(host, objectPath, job.index.size)) return "no connection for its ranges";
  DownloadProgress progress(fileBar, totalBar);
  progress.SetLength(job.index.size);
  ChunkTransfer transfer(job.index, plan, journal, files, progress);
  const int made = transfer.Run(fetcher, &why, keep);
  ul::Copy(job.md5, transfer.md5Hex());
  job.fetched = fetcher.received();
  job.requests = fetcher.requests();
  job.copied = job.inPlace ? plan.copiedBytes : transfer.copied();
  fetched_ += job.fetched;
  copied_ += job.copied;
  return made == kChunksDone ? nullptr : why;
}

// The installed copy's chunks from the index it was made by, where the
// record vouches that it is still that file: no need to cut it again. False
// when there is any doubt (then it is cut, as ever).
bool CChunkedDownload::KeptChunks(const Job& job, uint64_t installedSize, std::vector<ul::ChunkRecord>* have) {
  char recorded[33], kept[33];
  if (copies_ == nullptr || !copies_->Unchanged(job.localPath, recorded)) return false;
  char path[ul::kTextCap];
  ul::Format(path, "%s%s", job.localPath, ul::kKeptIndexSuffix);
  ul::HeldFile file;
  std::string bytes;
  ul::ChunkIndex index;
  if (!file.Open(path) || !file.ReadAll(ul::kChunkIndexMaxBytes + 64, &bytes) ||
      !ul::ParseKeptIndex(bytes.data(), bytes.size(), kept, &index) || std::strcmp(kept, recorded) != 0 ||
      index.size != installedSize)
    return false;
  DebugTrace("Chunks: %s: the installed copy's chunks from the index it was made by", job.name);
  *have = std::move(index.chunks);
  return true;
}

// Beside a file just made: the index it was made by, for the next transfer,
// and the record told. Without the record nothing is kept.
void CChunkedDownload::KeepIndex(const Job& job, const char* md5Hex) {
  if (copies_ == nullptr) return;
  char path[ul::kTextCap];
  ul::Format(path, "%s%s", job.localPath, ul::kKeptIndexSuffix);
  std::string bytes;
  ul::OffsetFile out;
  if (!ul::FormatKeptIndex(md5Hex, job.indexBytes, &bytes) || !out.Create(path) ||
      !out.WriteAt(0, bytes.data(), static_cast<uint32_t>(bytes.size()))) {
    out.Close();
    DeleteFileA(path);
    return;
  }
  out.Close();
  copies_->Made(job.localPath, md5Hex);
}

// The finished file, the index's chunk by chunk, must be the hash list's
// before it takes the installed copy's place.
const char* CChunkedDownload::PutInPlace(const Job& job) {
  if (job.md5Hex != nullptr && !ul::EqualsNoCase(job.md5, job.md5Hex)) return "the new file differs from the hash list";
  if (job.inPlace) {
    // Changed where it is: the changed chunks the partial file held are in.
    DeleteFileA(job.partial);
    return nullptr;
  }
  if (!MoveFileExA(job.partial, job.localPath, MOVEFILE_REPLACE_EXISTING))
    return "the new file cannot take the installed copy's place";
  return nullptr;
}

int CChunkedDownload::Download(const char* host, const char* objectPath, const char* name, const char* localPath,
                               const char* md5Hex, HWND fileBar, HWND totalBar) {
  Job job{name, localPath, md5Hex, {0}, {0}, {}, {0}, {}};
  const auto whole = [&](const char* why) {
    DebugTrace("Chunks: %s travels whole: %s", name, why);
    return kChunksWhole;
  };
  const char* why = FetchIndex(host, objectPath, &job);
  if (why != nullptr) return whole(why);
  bool keep = false;
  why = MakePartial(host, objectPath, job, fileBar, totalBar, &keep);
  if (why != nullptr) {
    if (!keep) RemovePartial(job.partial, job.journalPath);
    return whole(why);
  }
  why = PutInPlace(job);
  if (why != nullptr) {
    RemovePartial(job.partial, job.journalPath);
    return whole(why);
  }
  DeleteFileA(job.journalPath);
  KeepIndex(job, job.md5);
  DebugTrace("Chunks: %s made%s: %llu bytes fetched in %d requests, %llu %s", name, job.inPlace ? " in place" : "",
             static_cast<unsigned long long>(job.fetched), job.requests, static_cast<unsigned long long>(job.copied),
             job.inPlace ? "left where they were" : "copied");
  return kChunksDone;
}
