// File update execution: the worker that downloads, unpacks, deletes and
// registers the listed entries, and the second pass that fetches files whose
// digest differs.
#include <windows.h>
#include <commctrl.h>
#include <direct.h>

#include <cstdio>
#include <cstring>

#include "formats/base/bounded.h"
#include "common/pause.h"
#include "common/trace.h"
#include "formats/trust/file_hasher.h"
#include "formats/lists/hash_list.h"
#include "config/registry_win.h"
#include "config/update_config.h"
#include "crash/crash_upload_win.h"
#include "files/dir_tree_win.h"
#include "files/zip_extractor_win.h"
#include "net/chunked_download_win.h"
#include "net/http_downloader_win.h"
#include "net/patched_download_win.h"
#include "run/app.h"
#include "run/main_dlg.h"
#include "run/relay_swap.h"
#include "ui/general_msg_dlg.h"
#include "ui/message_box.h"
#include "run/run_paths.h"

namespace {
const char kDownloadFailed[] =
    "[%s] 파일을 다운로드 도중 오류가 발생하였습니다.\n잠시 후 다시 실행해 보시기 바랍니다.";
const char kRetryTrace[] = "진행 도중에 오류가 발생하여 다시시도 합니다.";
const char kCloseBrowsers[] =
    "올바른 업데이트를 위해 모든 인터넷 창을 종료한 후, 업데이트를 실행해주세요.";
const char kDone[] = "프로그램 업데이트가 완료되었습니다.\n울메를 실행합니다.";
const char kFallbackPrefix[] = "TestUlmet3Main";


void SetStatusF(const char* fmt, const char* value) {
  char text[ul::kTextCap];
  ul::FormatBounded(text, sizeof text, fmt, value);
  SetStatus(text);
}

// A failed download ends the run: the error goes to the status line and,
// since the dialog closes right after, into the error box the user closes
// first.
void EndOnFailedDownload(CULPatchwellDlg* dlg, const char* name) {
  char text[ul::kTextCap];
  ul::FormatBounded(text, sizeof text, kDownloadFailed, name);
  SetStatus(text);
  DebugTrace("%s", text);
  DebugTrace("%s", kRetryTrace);
  ShowMessageBox(ul::kBoxError, text, ul::kHelpLinkDownloadFailed);
  dlg->CloseRequest();
}

void EnterClientFolder() { _chdir(GetConfig()->clientFolder); }

// Both ways of fetching a client file: by its changed chunks where the
// chunk list names it (name: as the update list or the hash list writes
// it), else, and whenever that does not work out, whole.
// The pause after every read of a digest, as many 32 KB chunks as the
// program configuration's "[PACE]" lets a read take (one by default).
struct DigestPace {
  explicit DigestPace(const Pace& pace) : chunks(pace.digestBytes / FileHasher::kChunkSize) {}
  static void AfterChunk(void* self) {
    DigestPace& p = *static_cast<DigestPace*>(self);
    if (++p.since < p.chunks) return;
    p.since = 0;
    ul::PauseOneMillisecond();
  }
  uint32_t chunks;
  uint32_t since = 0;
};

// Paced as the program configuration says ("[PACE]").
// With the section, the chunk transfer also keeps each file's index beside
// it and asks the verified-state record (when on) about installed copies.
// With a patch list ("[PATCHLIST]"), the record (when on) tells the patches
// the installed copies' digests and takes the files they make.
struct Fetchers {
  Fetchers(const UpdateConfig& cfg, VerifiedFiles& record)
      : whole(cfg.release.get()), chunks(cfg.release.get()), patches(cfg.release.get()) {
    whole.PaceReads(cfg.program.pace.downloadBytes);
    chunks.PaceReads(cfg.program.pace.downloadBytes);
    patches.PaceReads(cfg.program.pace.downloadBytes);
    patches.PaceDigest(cfg.program.pace.digestBytes);
    const bool patchList = cfg.program.patchListPath[0] != '\0';
    if (cfg.program.pace.given || patchList) record.Load(cfg);
    if (record.On() && patchList) patches.UseRecord(&record);
    if (record.On() && cfg.program.pace.given) chunks.UseRecord(&record);
  }
  // Once per run: the lists of chunk indexes and of patches.
  void LoadLists(const UpdateConfig& cfg) {
    chunks.LoadList(cfg.directory.serverHost, cfg.program.chunkListPath);
    patches.LoadList(cfg.directory.serverHost, cfg.program.patchListPath);
  }
  CHttpDownloader whole;
  CChunkedDownload chunks;
  CPatchedDownload patches;
};

// The hash list's digest of the file at the resolved path local, or null
// when the list has none for it.
const char* ListedDigest(const char* local) {
  for (const HashEntry& e : GetConfig()->hashEntries) {
    char path[ul::kPathCap];
    if (HashEntryPath(e, path) && ul::EqualsNoCase(path, local)) return e.digestHex;
  }
  return nullptr;
}

// The file served at serverPath into local: by patch from the installed
// copy at base (local itself when null) where the patch list has one, by its
// changed chunks where the chunk list names it (name: as the update list or
// the hash list writes it), and whole whenever neither works out. md5Hex:
// the hash list's digest of it, or null to look it up. False when it could
// not be fetched.
bool FetchFile(CULPatchwellDlg* dlg, Fetchers& fetch, const char* serverPath, const char* name, char* local,
               const char* md5Hex, const char* base = nullptr) {
  const char* host = GetConfig()->directory.serverHost;
  if (md5Hex == nullptr) md5Hex = ListedDigest(local);
  const LRESULT totalBefore = SendMessageA(dlg->TotalBar(), PBM_GETPOS, 0, 0);
  if (fetch.patches.Lists(name)) {
    if (fetch.patches.Download(host, serverPath, name, base != nullptr ? base : local, local, md5Hex,
                               dlg->PerFileBar(), dlg->TotalBar()) == kPatchDone) {
      CChunkedDownload::Forget(local);  // an index kept for the copy before is no use
      return true;
    }
    SendMessageA(dlg->TotalBar(), PBM_SETPOS, totalBefore, 0);  // the next way counts from here
  }
  if (fetch.chunks.Lists(name)) {
    if (fetch.chunks.Download(host, serverPath, name, local, md5Hex, dlg->PerFileBar(), dlg->TotalBar()) ==
        kChunksDone) {
      CPatchedDownload::Forget(local);  // a patch for the copy before is no use
      return true;
    }
    SendMessageA(dlg->TotalBar(), PBM_SETPOS, totalBefore, 0);  // the whole download counts from here
  }
  if (!fetch.whole.DownloadFile(host, serverPath, local, dlg->PerFileBar(), dlg->TotalBar(), nullptr, md5Hex))
    return false;
  CChunkedDownload::Forget(local);
  CPatchedDownload::Forget(local);
  return true;
}

// Entries without a download still count a file's steps on the total bar.
void ShowEntryDone(CULPatchwellDlg* dlg, int done) {
  SendMessageA(dlg->PerFileBar(), PBM_SETPOS, 100, 0);
  SendMessageA(dlg->TotalBar(), PBM_SETPOS, done, 0);
}

UINT FullInstallation(CULPatchwellDlg* dlg, CHttpDownloader& downloader) {
  UpdateConfig& cfg = *GetConfig();
  char local[ul::kPathCap];
  if (!InstallerPath(local)) return 0;
  SendMessageA(dlg->TotalBar(), PBM_SETRANGE, 0, MAKELPARAM(0, kStepsPerFile));
  SendMessageA(dlg->TotalBar(), PBM_SETPOS, 0, 0);
  // Held from before its check until the launch step has started it.
  if (downloader.DownloadFile(cfg.directory.serverHost, cfg.program.installerPath, local, dlg->PerFileBar(),
                              dlg->TotalBar(), &dlg->heldInstaller)) {
    cfg.updateFinished = 1;
  } else {
    EndOnFailedDownload(dlg, cfg.program.installerPath);
  }
  return 0;
}

// Unpacks a downloaded archive where it lies and deletes it. False only when
// the run must end (the plain-file fallback could not be fetched either).
bool UnpackArchive(CULPatchwellDlg* dlg, CHttpDownloader& downloader, const char* entry,
                   const char* localName, const char* archive) {
  UpdateConfig& cfg = *GetConfig();
  char status[ul::kTextCap];
  ul::Format(status, "\n[ %s ] 파일 압축을 풀고 있습니다.!!", entry);
  SetStatus(status);

  bool ok = false;
  {
    CZipExtractor zip(nullptr);
    if (cfg.release != nullptr) zip.RefuseReparsePointsBelow(cfg.clientFolder);
    if (zip.OpenArchive(archive)) {
      ok = zip.ExtractToOwnFolder(false) != 0;
      zip.CloseArchive();
    }
  }
  DeleteFileA(archive);
  if (ok || std::strncmp(localName, kFallbackPrefix, sizeof kFallbackPrefix - 1) != 0) return true;

  char serverPath[ul::kTextCap];
  char plainName[ul::kPathCap];
  char plain[ul::kPathCap];
  ul::Format(serverPath, "%s%s.exe", cfg.program.updateSubPath, kFallbackPrefix);
  ul::Format(plainName, "%s.exe", kFallbackPrefix);
  if (ClientPath(plainName, plain)) {
    SetFileAttributesA(plain, FILE_ATTRIBUTE_NORMAL);
    if (downloader.DownloadFile(cfg.directory.serverHost, serverPath, plain, dlg->PerFileBar(),
                                dlg->TotalBar()))
      return true;
  }
  EndOnFailedDownload(dlg, plainName);
  return false;
}

// A '-' or '=' entry: the file or the folder (with everything in it) below
// the client folder goes. A name that the gate refuses deletes nothing.
void DeleteEntry(const char* entry) {
  const bool folder = ClassifyUpdateEntry(entry) == kEntryDeleteFolder;
  SetStatusF(folder ? "\n[%s] 폴더를 삭제 중입니다." : "\n[%s] 파일을 삭제 중입니다.", entry + 1);
  char name[ul::kPathCap];
  char path[ul::kPathCap];
  LocalNameOf(entry + 1, name);
  if (!ClientPath(name, path)) return;
  if (folder) {
    DeleteFolderTree(path);
  } else {
    DeleteFileA(path);
    CChunkedDownload::Forget(path);  // what a transfer left beside it goes with it
    CPatchedDownload::Forget(path);
  }
}

// The page relay component may be loaded by a browser: the installed copy
// is unregistered and renamed out of the way, which works only when no page
// holds it. A client without one has nothing to set aside. False, after the
// box, when the run must end.
bool SetRelayAside(CULPatchwellDlg* dlg, const char* path, RelaySwap& swap) {
  if (swap.SetAside(path)) return true;
  SetStatus(kCloseBrowsers);
  ShowMessageBox(ul::kBoxError, kCloseBrowsers);
  dlg->CloseRequest();
  return false;
}

// A plain entry: fetched into its place below the client folder, then
// unpacked or registered by its ending. False when the run must end.
bool FetchEntry(CULPatchwellDlg* dlg, Fetchers& fetch, const char* entry) {
  UpdateConfig& cfg = *GetConfig();
  SetStatusF("\n[%s] 파일을 다운로드 중입니다.", entry);
  char name[ul::kPathCap];
  char local[ul::kPathCap];
  LocalNameOf(entry, name);
  if (!ClientPath(name, local)) return true;  // passed over like a refused list name
  const bool relay = ul::EqualsNoCase(name, kRelayName);
  RelaySwap swap;
  if (relay && !SetRelayAside(dlg, local, swap)) return false;

  char serverPath[ul::kTextCap];
  ul::Format(serverPath, "%s%s", cfg.program.updateSubPath, entry);
  SetFileAttributesA(local, FILE_ATTRIBUTE_NORMAL);
  // The updater's new copy is made from the updater itself.
  char self[ul::kPathCap];
  const bool newCopy = ul::EqualsNoCase(name, kUpdaterNewCopy) && ClientPath(kUpdaterName, self);
  if (!FetchFile(dlg, fetch, serverPath, entry, local, nullptr, newCopy ? self : nullptr)) {
    swap.PutBack();  // the installed component stays the client's
    EndOnFailedDownload(dlg, entry);
    return false;
  }

  const size_t len = std::strlen(name);
  if (len > 3 && ul::EndsWithNoCase(name, "zip")) {
    if (!UnpackArchive(dlg, fetch.whole, entry, name, local)) return false;
  }
  if (len > 3 && ul::EndsWithNoCase(name, "dll")) {
    SetStatusF("\n[ %s ] dll 파일을 등록하고 있습니다.", entry);
    if (relay) RegisterRelay(local);
  }
  return true;
}

UINT NormalUpdate(CULPatchwellDlg* dlg, Fetchers& fetch) {
  UpdateConfig& cfg = *GetConfig();
  if (cfg.program.crashReportEnabled) UploadCrashReports();
  fetch.LoadLists(cfg);

  int n = dlg->updateList.entryCount;
  SendMessageA(dlg->TotalBar(), PBM_SETRANGE, 0, MAKELPARAM(0, kStepsPerFile * n));
  SendMessageA(dlg->TotalBar(), PBM_SETPOS, 0, 0);
  int done = 0;

  for (int i = 0; i < n; ++i) {
    const char* entry = dlg->updateList.EntryAt(i);
    EnterClientFolder();
    done += kStepsPerFile;

    switch (ClassifyUpdateEntry(entry)) {
      case kEntryDeleteFile:
      case kEntryDeleteFolder:
        DeleteEntry(entry);
        ShowEntryDone(dlg, done);
        break;
      case kEntryInstallerMarker:
        dlg->WriteAppVersion();
        continue;
      case kEntryFetch:
        if (!FetchEntry(dlg, fetch, entry)) return 0;
        break;
    }

    // The updater's own new copy takes its place now; a failure hands the
    // rest of the work to the follow-up program.
    const char* path = UpdateEntryName(entry);
    if (ul::EqualsNoCase(path, kUpdaterNewCopy)) {
      if (dlg->ReplaceSelf()) {
        dlg->WriteAppVersion();
      } else {
        DebugTrace("SelfUpdate Rename failed.");
        dlg->WriteAppVersion();
        cfg.followUpPending = 1;
        cfg.updateFinished = 1;
        return 0;
      }
    }
  }

  dlg->WriteAppVersion();
  SetStatus(kDone);
  cfg.updateFinished = 1;
  return 0;
}
}  // namespace

UINT UpdateWorkerProc(LPVOID param) {
  CULPatchwellDlg* dlg = static_cast<CULPatchwellDlg*>(param);
  EnterClientFolder();
  // In a build with a release key every file below must match the signed
  // release before it replaces anything; a mismatch is a failed download.
  Fetchers fetch(*GetConfig(), dlg->verifiedFiles);
  if (GetConfig()->majorUpdatePending) return FullInstallation(dlg, fetch.whole);
  return NormalUpdate(dlg, fetch);
}

bool CULPatchwellDlg::RemoveLeftovers() {
  EnterClientFolder();
  char path[ul::kPathCap];
  if (ClientPath(kUpdaterOldCopy, path)) DeleteFileA(path);
  if (ClientPath(kRelayAside, path)) DeleteFileA(path);
  return true;
}

bool CULPatchwellDlg::WriteAppVersion() {
  UpdateConfig& cfg = *GetConfig();
  char version[32];
  ul::Format(version, "%d", updateList.maxVersion);
  return WriteRegistryString(cfg.program.clientRegistryKey, "AppVersion", version, cfg.program.registryHive);
}

void CULPatchwellDlg::StartRedownload() { StartWorker(RedownloadWorkerProc, 10); }

UINT RedownloadWorkerProc(LPVOID param) {
  CULPatchwellDlg* dlg = static_cast<CULPatchwellDlg*>(param);
  UpdateConfig& cfg = *GetConfig();
  EnterClientFolder();
  Fetchers fetch(cfg, dlg->verifiedFiles);
  fetch.LoadLists(cfg);
  int m = static_cast<int>(cfg.hashEntries.size());
  SendMessageA(dlg->TotalBar(), PBM_SETRANGE, 0, MAKELPARAM(0, kStepsPerFile * m));
  SendMessageA(dlg->TotalBar(), PBM_SETPOS, 0, 0);
  int done = 0;
  for (const HashEntry& e : cfg.hashEntries) {
    done += kStepsPerFile;
    char local[ul::kPathCap];
    const char* relative = nullptr;
    if (e.status != 2 || !HashEntryPath(e, local, &relative)) {
      ShowEntryDone(dlg, done);
      continue;
    }
    EnterClientFolder();
    // Fetched from where the release publishes it: the same place below the
    // server's folder as the file has below the client folder.
    char serverPath[ul::kTextCap];
    RedownloadPath(cfg.program.updateSubPath, relative, serverPath);
    SetStatusF("\n[%s] 파일을 다운로드 중입니다.", e.fileName);
    SetFileAttributesA(local, FILE_ATTRIBUTE_NORMAL);
    // A damaged file fetches its damaged chunks only.
    if (!FetchFile(dlg, fetch, serverPath, relative, local, e.digestHex)) {
      EndOnFailedDownload(dlg, relative);
      return 0;
    }
    // With the verified-state record on, a fetched file that matches is
    // recorded (that takes one more read of it); off, nothing happens here.
    if (dlg->verifiedFiles.On()) {
      FileHasher hasher;
      DigestPace pace(cfg.program.pace);
      hasher.SetChunkHook(&DigestPace::AfterChunk, &pace);
      dlg->verifiedFiles.ReadAndCompare(local, e.digestHex, hasher);
    }
  }
  dlg->verifiedFiles.Save();
  SetStatus(kDone);
  cfg.updateFinished = 1;
  return 0;
}
