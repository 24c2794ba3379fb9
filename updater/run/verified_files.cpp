#include "run/verified_files.h"

#include <windows.h>

#include <cstring>
#include <string>

#include "common/owned_win.h"
#include "common/safe_path.h"
#include "common/trace.h"
#include "config/file_hasher.h"
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

}  // namespace

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
  if (config.verifiedStateDays <= 0) return;
  std::size_t folderLength = 0;
  if (!ul::ResolveInsideFolder(config.clientFolder, kVerifiedRecord, recordPath_, &folderLength) ||
      !ul::ResolveInsideFolder(config.clientFolder, kVerifiedRecordPart, partPath_)) {
    DebugTrace("Verified record: no place for it in the client folder, every file is read");
    return;
  }
  // Entries are kept under the paths the gate gives, which begin with the
  // folder exactly as it resolves it.
  record_.reset(new ul::VerifiedRecord(std::string(recordPath_, folderLength), config.verifiedStateDays));
  std::string text;
  bool missing = false;
  const uint64_t now = FileTimeNow();
  if (!ReadWhole(recordPath_, &text, &missing)) {
    record_->StartAfresh(now);
    DebugTrace("Verified record: %s, every file is read", missing ? "none yet" : "unreadable");
    return;
  }
  const ul::VerifiedRecord::Refusal refusal = record_->Adopt(text, now);
  if (refusal != ul::VerifiedRecord::Refusal::kNone)
    DebugTrace("Verified record: %s, every file is read", RefusalName(refusal));
  else
    DebugTrace("Verified record: %u files", static_cast<unsigned>(record_->Size()));
}

ul::Verdict VerifiedFiles::Check(const char* resolvedPath, const char* expectedDigest) {
  if (!record_) return ul::Verdict::kNoRecord;
  ul::FileFacts now;
  if (!LookAtFile(resolvedPath, &now)) {
    // Nothing to vouch for; what it was is gone.
    const ul::Verdict seen = record_->Check(resolvedPath, expectedDigest, now);
    return seen == ul::Verdict::kNoRecord ? seen : ul::Verdict::kFacts;
  }
  return record_->Check(resolvedPath, expectedDigest, now);
}

bool VerifiedFiles::ReadAndCompare(const char* resolvedPath, const char* expectedDigest, FileHasher& hasher) {
  ul::FileFacts before, after;
  const uint64_t lookedAt = FileTimeNow();
  const bool looked = record_ && LookAtFile(resolvedPath, &before);
  char digest[33] = {0};
  const bool matches = hasher.ComputeFileDigest(resolvedPath, digest) &&
                       std::strncmp(digest, expectedDigest, FileHasher::kDigestChars) == 0;
  if (record_) {
    if (matches && looked && LookAtFile(resolvedPath, &after) && after == before)
      record_->Matched(resolvedPath, digest, before, lookedAt);
    else
      record_->Forget(resolvedPath);
  }
  return matches;
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
