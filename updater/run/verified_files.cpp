#include "run/verified_files.h"

#include <windows.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "formats/base/bounded.h"
#include "formats/base/owned_win.h"
#include "formats/base/safe_path.h"
#include "common/trace.h"
#include "formats/trust/file_hasher.h"
#include "config/update_config.h"
#include "run/run_paths.h"

namespace {

// A record this large is not one this updater wrote (a million files at
// most, a few hundred bytes each).
const DWORD kRecordMaxBytes = 512u << 20;

uint64_t Join(DWORD high, DWORD low) { return (static_cast<uint64_t>(high) << 32) | low; }

bool ReadWhole(const char* path, std::string* text, bool* missing) {
  // Shared for deleting too, so that another updater can move its new
  // record over this one while it is read.
  ul::Handle file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    const DWORD e = GetLastError();
    *missing = e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND;
    return false;
  }
  DWORD high = 0;
  const DWORD low = GetFileSize(file.Get(), &high);
  if ((low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) || high != 0 || low > kRecordMaxBytes) return false;
  text->resize(low);
  DWORD got = 0;
  return low == 0 || (ReadFile(file.Get(), &(*text)[0], low, &got, nullptr) && got == low);
}

const char* RefusalName(ul::VerifiedRecord::Refusal r) {
  switch (r) {
    case ul::VerifiedRecord::Refusal::kDamaged: return "damaged";
    case ul::VerifiedRecord::Refusal::kOtherFolder: return "written for another client folder";
    case ul::VerifiedRecord::Refusal::kExpired: return "older than its days";
    case ul::VerifiedRecord::Refusal::kNone: break;
  }
  return "taken";
}

// Whether the file at path still has the size and last-write time of facts,
// as the system reads them from the file itself.
bool SameSizeAndTime(const char* path, const ul::FileFacts& facts) {
  WIN32_FILE_ATTRIBUTE_DATA now;
  return GetFileAttributesExA(path, GetFileExInfoStandard, &now) &&
         Join(now.nFileSizeHigh, now.nFileSizeLow) == facts.size &&
         Join(now.ftLastWriteTime.dwHighDateTime, now.ftLastWriteTime.dwLowDateTime) == facts.lastWrite;
}

}  // namespace

// What the system says about every file of one folder, from one listing: a
// handle for each file costs far more on some systems (under Wine 8 about
// 3 ms a file, a listing about 0.05 ms an entry). A listing older than
// kFreshMs is made again.
class FolderListings {
 public:
  bool Find(const char* path, ul::FileFacts* facts);

 private:
  struct Listing {
    DWORD madeAt = 0;
    bool ok = false;
    std::map<std::wstring, ul::FileFacts> files;
  };
  static const DWORD kFreshMs = 2000;
  static void List(const std::string& folder, Listing* listing);
  std::map<std::string, Listing> folders_;
};

namespace {
// From Vista's headers, which a build for older systems does not see.
using InfoByHandleEx = BOOL(WINAPI*)(HANDLE, int, LPVOID, DWORD);
const int kIdBothDirectoryInfo = 10;         // FileIdBothDirectoryInfo
const int kIdBothDirectoryRestartInfo = 11;  // FileIdBothDirectoryRestartInfo
struct IdBothDirInfo {
  DWORD NextEntryOffset;
  DWORD FileIndex;
  LARGE_INTEGER CreationTime;
  LARGE_INTEGER LastAccessTime;
  LARGE_INTEGER LastWriteTime;
  LARGE_INTEGER ChangeTime;
  LARGE_INTEGER EndOfFile;
  LARGE_INTEGER AllocationSize;
  DWORD FileAttributes;
  DWORD FileNameLength;
  DWORD EaSize;
  CCHAR ShortNameLength;
  WCHAR ShortName[12];
  LARGE_INTEGER FileId;
  WCHAR FileName[1];
};
}  // namespace

void FolderListings::List(const std::string& folder, Listing* listing) {
  listing->files.clear();
  listing->madeAt = GetTickCount();
  listing->ok = false;
  // Vista and later; older systems look at each file.
  static const InfoByHandleEx infoEx = reinterpret_cast<InfoByHandleEx>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetFileInformationByHandleEx"));
  if (infoEx == nullptr) return;
  ul::Handle dir(CreateFileA(folder.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  BY_HANDLE_FILE_INFORMATION info;
  if (!dir || !GetFileInformationByHandle(dir.Get(), &info)) return;
  // 8-byte alignment, as the records' 64-bit fields want it.
  std::vector<uint64_t> buffer(8192);
  for (int kind = kIdBothDirectoryRestartInfo;; kind = kIdBothDirectoryInfo) {
    if (!infoEx(dir.Get(), kind, buffer.data(), static_cast<DWORD>(buffer.size() * sizeof(uint64_t)))) {
      listing->ok = GetLastError() == ERROR_NO_MORE_FILES;
      return;
    }
    const char* at = reinterpret_cast<const char*>(buffer.data());
    for (;;) {
      const IdBothDirInfo* e = reinterpret_cast<const IdBothDirInfo*>(at);
      if ((e->FileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        ul::FileFacts f;
        f.size = static_cast<uint64_t>(e->EndOfFile.QuadPart);
        f.lastWrite = static_cast<uint64_t>(e->LastWriteTime.QuadPart);
        f.volume = info.dwVolumeSerialNumber;
        f.index = static_cast<uint64_t>(e->FileId.QuadPart);
        listing->files[std::wstring(e->FileName, e->FileNameLength / sizeof(WCHAR))] = f;
      }
      if (e->NextEntryOffset == 0) break;
      at += e->NextEntryOffset;
    }
  }
}

bool FolderListings::Find(const char* path, ul::FileFacts* facts) {
  const char* slash = std::strrchr(path, '\\');
  if (slash == nullptr) return false;
  const std::string folder(path, slash);
  wchar_t name[ul::kPathCap];
  if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, slash + 1, -1, name, ul::kPathCap) == 0) return false;
  if (folders_.size() > 256) folders_.clear();
  Listing& listing = folders_[folder];
  if (listing.madeAt == 0 || GetTickCount() - listing.madeAt >= kFreshMs) List(folder, &listing);
  auto it = listing.files.find(name);
  if (!listing.ok || it == listing.files.end()) return false;
  *facts = it->second;
  return true;
}

bool LookAtFile(const char* path, ul::FileFacts* facts) {
  ul::Handle file(CreateFileA(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  BY_HANDLE_FILE_INFORMATION info;
  if (!file || !GetFileInformationByHandle(file.Get(), &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    return false;
  facts->size = Join(info.nFileSizeHigh, info.nFileSizeLow);
  facts->lastWrite = Join(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime);
  facts->volume = info.dwVolumeSerialNumber;
  facts->index = Join(info.nFileIndexHigh, info.nFileIndexLow);
  return true;
}

uint64_t FileTimeNow() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return Join(now.dwHighDateTime, now.dwLowDateTime);
}

VerifiedFiles::VerifiedFiles() = default;
VerifiedFiles::~VerifiedFiles() = default;

void VerifiedFiles::Load(const UpdateConfig& config) {
  if (loaded_) return;
  loaded_ = true;
  if (config.program.verifiedStateDays <= 0) return;
  std::size_t folderLength = 0;
  if (!ul::ResolveInsideFolder(config.clientFolder, kVerifiedRecord, recordPath_, &folderLength) ||
      !ul::ResolveInsideFolder(config.clientFolder, kVerifiedRecordPart, partPath_)) {
    DebugTrace("Verified record: no place for it in the client folder, every file is read");
    return;
  }
  // Entries are kept under the paths the gate gives, which begin with the
  // folder exactly as it resolves it.
  rolling_ = config.program.pace.rereadMs > 0;
  record_.reset(new ul::VerifiedRecord(std::string(recordPath_, folderLength), config.program.verifiedStateDays,
                                       rolling_));
  std::string text;
  bool missing = false;
  const uint64_t now = FileTimeNow();
  if (!ReadWhole(recordPath_, &text, &missing)) {
    record_->StartAfresh(now);
    DebugTrace("Verified record: %s, every file is read", missing ? "none yet" : "unreadable");
    return;
  }
  const ul::VerifiedRecord::Refusal refusal = record_->Adopt(text, now);
  record_->MarkDue(now);
  rereadHours_ = record_->HoursSinceWritten(now);
  if (refusal != ul::VerifiedRecord::Refusal::kNone)
    DebugTrace("Verified record: %s, every file is read", RefusalName(refusal));
  else
    DebugTrace("Verified record: %u files", static_cast<unsigned>(record_->Size()));
}

bool VerifiedFiles::Facts(const char* path, ul::FileFacts* facts) {
  if (!listings_) listings_.reset(new FolderListings());
  return listings_->Find(path, facts) || LookAtFile(path, facts);
}

uint64_t VerifiedFiles::ListedSize(const char* path) {
  ul::FileFacts facts;
  return Facts(path, &facts) ? facts.size : 0;
}

ul::Verdict VerifiedFiles::Check(const char* resolvedPath, const char* expectedDigest) {
  if (!record_) return ul::Verdict::kNoRecord;
  ul::FileFacts now;
  if (!Facts(resolvedPath, &now)) {
    // Nothing to vouch for; what it was is gone.
    const ul::Verdict seen = record_->Check(resolvedPath, expectedDigest, now);
    return seen == ul::Verdict::kNoRecord ? seen : ul::Verdict::kFacts;
  }
  const ul::Verdict listed = record_->Check(resolvedPath, expectedDigest, now);
  if (listed != ul::Verdict::kVouched) return listed;
  // A folder's listing can be older than the file: it is kept for a moment
  // between files, and under NTFS a change made through another hard link
  // leaves the folder's entry as it was. What vouches is the file's own
  // size and time, which the system reads from the file itself (it opens it
  // for the query), not from the entry; the identity is the entry's, which
  // names the file it leads to.
  WIN32_FILE_ATTRIBUTE_DATA own;
  if (!GetFileAttributesExA(resolvedPath, GetFileExInfoStandard, &own)) return ul::Verdict::kFacts;
  now.size = Join(own.nFileSizeHigh, own.nFileSizeLow);
  now.lastWrite = Join(own.ftLastWriteTime.dwHighDateTime, own.ftLastWriteTime.dwLowDateTime);
  return record_->Check(resolvedPath, expectedDigest, now);
}

bool VerifiedFiles::ReadAndCompare(const char* resolvedPath, const char* expectedDigest, FileHasher& hasher) {
  return ReadInParts(resolvedPath, expectedDigest, hasher) == Read::kSame;
}

VerifiedFiles::Read VerifiedFiles::ReadInParts(const char* resolvedPath, const char* expectedDigest,
                                               FileHasher& hasher) {
  ul::FileFacts before;
  uint64_t begunAt = FileTimeNow();
  const bool looked = record_ && Facts(resolvedPath, &before);
  DigestProgress progress;
  if (looked && record_->Progress(resolvedPath, before, &progress, &begunAt))
    DebugTrace("Verified record: %s read on from byte %llu", resolvedPath,
               static_cast<unsigned long long>(progress.bytes));
  char digest[33] = {0};
  const FileHasher::Outcome outcome = hasher.ContinueFileDigest(resolvedPath, progress, digest);
  const bool matches =
      outcome == FileHasher::Outcome::kDone && std::strncmp(digest, expectedDigest, FileHasher::kDigestChars) == 0;
  if (!record_) return matches ? Read::kSame : Read::kDiffers;
  // The hasher keeps others from writing while it reads, and the file
  // cannot be replaced under it then; a change before or after the read
  // shows in its size or time.
  const bool unchanged = looked && SameSizeAndTime(resolvedPath, before);
  if (outcome == FileHasher::Outcome::kPaused) {
    if (unchanged)
      record_->Paused(resolvedPath, progress, begunAt);
    else
      record_->Forget(resolvedPath);
    return Read::kPaused;
  }
  if (matches && unchanged)
    record_->Matched(resolvedPath, digest, before, begunAt);
  else
    record_->Forget(resolvedPath);
  return matches ? Read::kSame : Read::kDiffers;
}

bool VerifiedFiles::Unchanged(const char* resolvedPath, char (&digest)[33]) {
  ul::FileFacts now;
  return record_ && LookAtFile(resolvedPath, &now) && record_->Unchanged(resolvedPath, now, digest);
}

void VerifiedFiles::Made(const char* resolvedPath, const char* digest) {
  ul::FileFacts facts;
  const uint64_t lookedAt = FileTimeNow();
  if (record_ && LookAtFile(resolvedPath, &facts)) record_->Matched(resolvedPath, digest, facts, lookedAt);
}

void VerifiedFiles::DropUnseen() {
  if (record_) record_->DropUnseen();
}

bool VerifiedFiles::Save() {
  if (!record_ || !record_->Changed()) return true;
  const std::string text = record_->Text(FileTimeNow());
  {
    // No sharing: while one updater writes the part, another cannot open it
    // (it skips its own save), and the part cannot be moved in half-written.
    ul::Handle part(CreateFileA(partPath_, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!part) {
      DebugTrace("Verified record: not written (%d)", static_cast<int>(GetLastError()));
      return false;
    }
    DWORD put = 0;
    if (!WriteFile(part.Get(), text.data(), static_cast<DWORD>(text.size()), &put, nullptr) || put != text.size() ||
        !FlushFileBuffers(part.Get())) {
      part.Reset();
      DeleteFileA(partPath_);
      DebugTrace("Verified record: not written (%d)", static_cast<int>(GetLastError()));
      return false;
    }
  }
  // A reader that has the record open lets it be replaced; a moment's
  // refusal (a scanner looking at it) is waited out briefly.
  for (int attempt = 0; attempt < 5; ++attempt) {
    if (MoveFileExA(partPath_, recordPath_, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      DebugTrace("Verified record: %u files written", static_cast<unsigned>(record_->Size()));
      return true;
    }
    Sleep(20);
  }
  DebugTrace("Verified record: not moved into place (%d)", static_cast<int>(GetLastError()));
  DeleteFileA(partPath_);
  return false;
}
