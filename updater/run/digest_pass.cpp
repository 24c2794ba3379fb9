// The comparison of the installed files with the hash list, the launch
// step's last check before the client starts. It runs on the user-interface
// thread and may read gigabytes, so it handles the thread's messages while
// it works: in the 1 ms pause after every 32 KB chunk (or after as many
// chunks as the program configuration's "[PACE]" lets a read take), and
// between files that need no pause. The dialog therefore answers, paints, ticks and can be
// closed throughout; a close ends the comparison at once, and the launch
// step then starts nothing. A comparison that runs longer than a moment
// puts the dialog on screen if it is not there yet (the launch step of a
// run with nothing to update runs inside the dialog's initialisation), and
// the bars show it advancing: the total bar file by file, the per-file bar
// through the file being read.
//
// With the verified-state record on, a file that the record vouches for is
// not read (run/verified_files.h). Rolling (the program configuration's
// "[PACE]" reread), the start then reads again the vouched files read
// longest ago: at least the record's daily share, and on until the reread
// milliseconds have passed (both a day's: a start makes up the hours since
// the last), so that no start reads the whole client again and every file
// is read within the record's days. A big file's read ends where the
// start's reading does, and the next start goes on from there: else one
// file of gigabytes would make its start that much longer.
#include <windows.h>
#include <commctrl.h>
#include <direct.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "common/pause.h"
#include "common/pause_win.h"
#include "common/trace.h"
#include "formats/trust/file_hasher.h"
#include "formats/trust/verified_record.h"
#include "config/update_config.h"
#include "net/http_downloader_win.h"
#include "run/main_dlg.h"
#include "run/run_paths.h"

namespace {

// How long a comparison may run before the dialog comes on screen: short
// ones (a small client) end before anything is seen, as they always did.
const DWORD kShowAfterMs = 500;
// The messages wait at most about this long (plus a chunk).
const DWORD kMessagesEveryMs = 10;
// The bars move at most this often: a bar that moves repaints at once (under
// Wine's default theme in about 5 ms), which thousands of small files would
// otherwise pay for each.
const DWORD kBarsEveryMs = 50;
// Reading again, a file is left for the next start only where at least this
// much of it is left: a smaller rest (about 10 ms of reading) is read now
// rather than kept in the record.
const uint64_t kPartLeftAtLeast = 4u << 20;

class DigestPass {
 public:
  DigestPass(CULPatchwellDlg& dlg, UpdateConfig& cfg)
      : dlg_(dlg), cfg_(cfg), chunksPerPause_(cfg.program.pace.digestBytes / FileHasher::kChunkSize) {
    if (chunksPerPause_ == 0) chunksPerPause_ = 1;
    hasher_.SetChunkHook(&DigestPass::AfterChunk, this);
  }
  int Run();

 private:
  static void AfterChunk(void* self) { static_cast<DigestPass*>(self)->ChunkDone(); }
  static void Messages(void* self) { static_cast<DigestPass*>(self)->HandleMessages(); }
  void ChunkDone();
  void HandleMessages();
  void MessagesBetweenFiles();
  bool Compare(HashEntry& e);
  bool Read(HashEntry& e, const char* path);
  void ReadAgainOldest();
  // The share counts each file read as the record does (ul::ReadCostOf):
  // its chunks, and what finding, opening and checking it costs.
  bool RereadDone() const {
    return readBytes_ + static_cast<uint64_t>(read_) * ul::kFileReadCost >= share_ &&
           GetTickCount() - started_ >= verified_.RereadMs(cfg_.program.pace.rereadMs);
  }
  void ShowProgress(bool now);
  void MoveBar(HWND bar, int position, int* shown);

  CULPatchwellDlg& dlg_;
  UpdateConfig& cfg_;
  VerifiedFiles& verified_ = dlg_.verifiedFiles;
  FileHasher hasher_;
  DWORD started_ = GetTickCount();
  DWORD lastMessages_ = started_;
  uint64_t chunksOfFile_ = 0;
  uint64_t chunksDone_ = 0;
  uint32_t chunksPerPause_;
  uint32_t sincePause_ = 0;
  int filesDone_ = 0;
  DWORD lastShown_ = 0;
  int fileShown_ = -1;
  int totalShown_ = -1;
  int read_ = 0;
  int vouched_ = 0;
  int differing_ = 0;
  // Rolling: the files the record vouched for, and the bytes read again.
  struct Vouched {
    HashEntry* entry;
    uint64_t lookedAt;
    uint64_t size;
  };
  std::vector<Vouched> vouchedFiles_;
  uint64_t readBytes_ = 0;
  int reread_ = 0;
  bool rereading_ = false;
  uint64_t share_ = 0;
};

void DigestPass::HandleMessages() {
  lastMessages_ = GetTickCount();
  if (!dlg_.PumpMessages()) return;
  if (lastMessages_ - started_ >= kShowAfterMs) dlg_.ShowNow();
}

void DigestPass::MessagesBetweenFiles() {
  if (GetTickCount() - lastMessages_ >= kMessagesEveryMs) HandleMessages();
}

void DigestPass::MoveBar(HWND bar, int position, int* shown) {
  if (position == *shown) return;
  *shown = position;
  SendMessageA(bar, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void DigestPass::ShowProgress(bool now) {
  const DWORD tick = GetTickCount();
  if (!now && tick - lastShown_ < kBarsEveryMs) return;
  lastShown_ = tick;
  MoveBar(dlg_.PerFileBar(), chunksOfFile_ > 0 ? static_cast<int>(chunksDone_ * kStepsPerFile / chunksOfFile_) : 0,
          &fileShown_);
  MoveBar(dlg_.TotalBar(), kStepsPerFile * filesDone_, &totalShown_);
}

// The mandated pause after a chunk is when the messages are handled. A
// dialog that ended meanwhile stops the file being read.
void DigestPass::ChunkDone() {
  // From what is left rather than counted: a read that goes on from where
  // an earlier start paused shows its bar from there, not from nothing.
  const uint64_t chunksLeft = (hasher_.BytesLeft() + FileHasher::kChunkSize - 1) / FileHasher::kChunkSize;
  chunksDone_ = chunksLeft < chunksOfFile_ ? chunksOfFile_ - chunksLeft : 0;
  readBytes_ += FileHasher::kChunkSize;
  if (rereading_ && hasher_.BytesLeft() >= kPartLeftAtLeast && RereadDone()) hasher_.Pause();
  if (++sincePause_ < chunksPerPause_) return;
  sincePause_ = 0;
  ShowProgress(false);
  // Looking for messages costs a little each time (under Wine about 0.1 ms):
  // once in a while is enough to answer at once.
  if (GetTickCount() - lastMessages_ >= kMessagesEveryMs) {
    ul::PauseOneMillisecondHandling(&DigestPass::Messages, this);
  } else {
    ul::PauseOneMillisecond();
  }
  if (dlg_.Ended()) hasher_.Stop();
}

// Reads the entry's file (unless the record vouches for it) and sets its
// state: 1 same, 2 differs, 0 when its name leads outside the client folder
// (neither compared nor fetched).
bool DigestPass::Compare(HashEntry& e) {
  char path[ul::kPathCap];
  if (!HashEntryPath(e, path)) {
    e.status = 0;
    return true;
  }
  const ul::Verdict verdict = verified_.Check(path, e.digestHex);
  if (verdict == ul::Verdict::kVouched) {
    e.status = 1;
    ++vouched_;
    if (verified_.Rolling()) vouchedFiles_.push_back({&e, verified_.LookedAt(path), 0});
    return true;
  }
  if (verified_.On() && verdict != ul::Verdict::kNoRecord)
    DebugTrace("Verified record: %s read again (%s)", path, ul::VerdictName(verdict));
  return Read(e, path);
}

// Reads the entry's file at path and sets its state: 1 same, 2 differs.
bool DigestPass::Read(HashEntry& e, const char* path) {
  chunksOfFile_ = (verified_.ListedSize(path) + FileHasher::kChunkSize - 1) / FileHasher::kChunkSize;
  chunksDone_ = 0;
  ++read_;
  const VerifiedFiles::Read result = verified_.ReadInParts(path, e.digestHex, hasher_);
  if (dlg_.Ended()) return false;  // cut short: this one stays uncompared
  // A paused read leaves the file as the record vouched for it.
  if (result != VerifiedFiles::Read::kPaused) e.status = result == VerifiedFiles::Read::kSame ? 1 : 2;
  return true;
}

// Rolling: the vouched files read longest ago are read again, at least the
// record's daily share (less what this pass read anyway) and on until the
// pass has taken the reread time.
void DigestPass::ReadAgainOldest() {
  if (vouchedFiles_.empty()) return;
  std::stable_sort(vouchedFiles_.begin(), vouchedFiles_.end(),
                   [](const Vouched& a, const Vouched& b) { return a.lookedAt < b.lookedAt; });
  share_ = verified_.RereadShare();
  rereading_ = true;
  for (const Vouched& v : vouchedFiles_) {
    if (RereadDone()) break;
    char path[ul::kPathCap];
    if (!HashEntryPath(*v.entry, path)) continue;
    MessagesBetweenFiles();
    if (dlg_.Ended() || !Read(*v.entry, path)) break;
    ++reread_;
    if (v.entry->status == 2) ++differing_;
  }
  rereading_ = false;
}

int DigestPass::Run() {
  verified_.Load(cfg_);
  const int total = static_cast<int>(cfg_.hashEntries.size());
  // A range of 32 steps per file, beyond the 16 bits of the older message.
  SendMessageA(dlg_.TotalBar(), PBM_SETRANGE32, 0, static_cast<LPARAM>(kStepsPerFile) * total);
  ShowProgress(true);
  for (HashEntry& e : cfg_.hashEntries) {
    MessagesBetweenFiles();
    if (dlg_.Ended() || !Compare(e)) break;
    if (e.status == 2) ++differing_;
    ++filesDone_;
    chunksOfFile_ = chunksDone_ = 0;
    ShowProgress(false);
  }
  if (!dlg_.Ended()) ReadAgainOldest();
  if (dlg_.Ended()) {
    DebugTrace("CheckInstalledFiles: ended by a close request after %d of %d files", filesDone_, total);
  } else {
    ShowProgress(true);
    verified_.DropUnseen();
    DebugTrace("CheckInstalledFiles: %d files, %d read, %d vouched for by the record, %d differ", total, read_,
               vouched_ - reread_, differing_);
    if (verified_.Rolling())
      DebugTrace("CheckInstalledFiles: %llu MB read", static_cast<unsigned long long>(readBytes_ >> 20));
  }
  // What was verified up to here is kept, written whole or not at all.
  verified_.Save();
  return differing_;
}

}  // namespace

int CULPatchwellDlg::CheckInstalledFiles() {
  UpdateConfig& cfg = *GetConfig();
  if (cfg.hashEntries.empty() || cfg.hashCheckDone) return 0;
  cfg.hashCheckDone = 1;
  _chdir(cfg.clientFolder);
  DigestPass pass(*this, cfg);
  return pass.Run();
}
