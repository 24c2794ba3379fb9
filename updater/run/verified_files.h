// The verified-state record of the client folder on disk (formats/trust/
// verified_record.h says what it holds and when it may vouch for a file),
// and the one door through which a run asks whether an installed copy needs
// reading: Check(resolved path, expected digest).
//
// Off unless the program configuration's section turned it on; then Check
// never vouches and nothing is written, exactly as before the record
// existed. Used by the user-interface thread's digest pass and afterwards by
// the re-download worker, never by both at once.
#pragma once

#include <memory>

#include "formats/trust/verified_record.h"
#include "net/installed_copies_win.h"

class FileHasher;
class UpdateConfig;
class FolderListings;

class VerifiedFiles : public InstalledCopies {
 public:
  VerifiedFiles();
  ~VerifiedFiles();
  VerifiedFiles(const VerifiedFiles&) = delete;
  VerifiedFiles& operator=(const VerifiedFiles&) = delete;

  // Reads the client folder's record when config turned it on (once; later
  // calls do nothing). A missing, damaged, foreign or expired record is
  // traced and leaves every file to be read, and is renewed on Save.
  void Load(const UpdateConfig& config);
  bool On() const { return record_ != nullptr; }

  // Whether the installed file at resolvedPath (a path that the client
  // folder's gate resolved, the one that will be read), which the hash list
  // expects to have expectedDigest, counts as matching without being read:
  // ul::Verdict::kVouched, or why it must be read. Always a reason to read
  // while the record is off.
  ul::Verdict Check(const char* resolvedPath, const char* expectedDigest);

  // Reads the file at resolvedPath with hasher and compares its digest with
  // expectedDigest, the 32 characters exactly: true when they match (false
  // also when it cannot be read, or the hasher was told to stop). With the
  // record on, a match is recorded when the file looked the same before and
  // after the read, and anything else drops the file's record.
  bool ReadAndCompare(const char* resolvedPath, const char* expectedDigest, FileHasher& hasher);
  // The same, going on from where an earlier start's read of the file was
  // paused when the record holds that and the file is as it was then; when
  // the hasher is paused (FileHasher::Pause) the record keeps how far this
  // read came, for the next start, and the file counts as it did before.
  enum class Read { kSame, kDiffers, kPaused };
  Read ReadInParts(const char* resolvedPath, const char* expectedDigest, FileHasher& hasher);

  // InstalledCopies, for the transfer by chunks: the digest the record
  // holds for an unchanged file, and a file just made recorded as it
  // stands (facts taken now, through the file).
  bool Unchanged(const char* resolvedPath, char (&digest)[33]) override;
  void Made(const char* resolvedPath, const char* digest) override;

  // After a pass over the whole hash list: records of files that the list
  // no longer names go.
  void DropUnseen();

  // Rolling ("[PACE]" reread): each start reads again the files read
  // longest ago. When the file at resolvedPath was read last (0: never),
  // and how many bytes a start reads again at least (see
  // ul::VerifiedRecord::DailyShare). Not rolling, the share is 0.
  uint64_t LookedAt(const char* resolvedPath) const { return record_ ? record_->LookedAt(resolvedPath) : 0; }
  // That share and a time are a day's: a start makes up the hours since
  // the last one (VerifiedRecord::HoursSinceWritten), so a start an hour
  // after the last reads a 24th of them.
  uint64_t RereadShare() const { return rolling_ && record_ ? record_->DailyShare() * rereadHours_ / 24 : 0; }
  uint32_t RereadMs(uint32_t dailyMs) const {
    return static_cast<uint32_t>(uint64_t{dailyMs} * static_cast<uint64_t>(rereadHours_) / 24);
  }
  bool Rolling() const { return rolling_ && record_ != nullptr; }

  // Writes the record when something changed: whole, under its temporary
  // name first and then moved into place, so that a reader (or a second
  // updater writing at the same moment) never meets a half-written one.
  // False when it could not be written (the next run reads more).
  bool Save();

  // The file's size as its folder's listing says (no handle of its own for
  // most files), 0 when nothing says: for a bar, not for a verdict.
  uint64_t ListedSize(const char* path);

 private:
  // What the system says about the file at path: from its folder's listing
  // where it can, else through a handle of its own.
  bool Facts(const char* path, ul::FileFacts* facts);

  std::unique_ptr<ul::VerifiedRecord> record_;
  std::unique_ptr<FolderListings> listings_;
  bool loaded_ = false;
  bool rolling_ = false;
  int rereadHours_ = 24;
  char recordPath_[261] = {0};
  char partPath_[261] = {0};
};

// What the system says about the file at path now: false when it says
// nothing (missing, a folder, no access). Through an open handle, so the
// file's identity (volume serial and file number) comes with it.
bool LookAtFile(const char* path, ul::FileFacts* facts);
// The system time as a file time.
uint64_t FileTimeNow();
