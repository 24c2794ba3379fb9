// File update execution: the worker that downloads, unpacks, deletes and
// registers the listed entries, and the second pass that fetches files whose
// digest differs.
#include <windows.h>
#include <commctrl.h>
#include <direct.h>

#include <cstdio>
#include <cstring>

#include "common/bounded.h"
#include "common/trace.h"
#include "config/file_hasher.h"
#include "config/registry_win.h"
#include "config/update_config.h"
#include "crash/crash_upload_win.h"
#include "files/dir_tree_win.h"
#include "files/zip_extractor_win.h"
#include "net/http_downloader_win.h"
#include "run/app.h"
#include "run/box.h"
#include "run/main_dlg.h"

namespace {
const char kDownloadFailed[] =
    "[%s] 파일을 다운로드 도중 오류가 발생하였습니다.\n잠시 후 다시 실행해 보시기 바랍니다.";
const char kRetryTrace[] = "진행 도중에 오류가 발생하여 다시시도 합니다.";
const char kCloseBrowsers[] =
    "올바른 업데이트를 위해 모든 인터넷 창을 종료한 후, 업데이트를 실행해주세요.";
const char kDone[] = "프로그램 업데이트가 완료되었습니다.\n울메를 실행합니다.";
const char kFallbackPrefix[] = "TestUlmet3Main";

void SetStatus(const char* text) { GetTheApp()->SetStatusText(text); }

void SetStatusF(const char* fmt, const char* value) {
  char text[ul::kTextCap];
  ul::FormatBounded(text, sizeof text, fmt, value);
  SetStatus(text);
}

// A failed download ends the run: the error stays on the status line for
// the instant before the dialog closes.
void ReportDownloadFailure(CULPatchwellDlg* dlg, const char* name) {
  char text[ul::kTextCap];
  ul::FormatBounded(text, sizeof text, kDownloadFailed, name);
  SetStatus(text);
  DebugTrace("%s", text);
  DebugTrace("%s", kRetryTrace);
}

// The path of a hash entry relative to the client folder: its folder field
// (without a leading ".\") followed by the file name.
void HashEntryRelativePath(const HashEntry& e, char (&out)[ul::kPathCap]) {
  const char* folder = e.subPath;
  if (folder[0] == '.' && folder[1] == '\\') folder += 2;
  ul::Format(out, "%s%s", folder, e.fileName);
}

// The server publishes a blank in a name as '!' and uses '/' between folders.
void PublishedName(char* serverPath) {
  for (char* p = serverPath; *p; ++p) {
    if (*p == ' ') *p = '!';
    if (*p == '\\') *p = '/';
  }
}

void EnterClientFolder() { _chdir(GetConfig()->clientFolder); }

// Entries without a download still count 32 steps on the total bar.
void ShowEntryDone(CULPatchwellDlg* dlg, int done) {
  SendMessageA(dlg->PerFileBar(), PBM_SETPOS, 100, 0);
  SendMessageA(dlg->TotalBar(), PBM_SETPOS, done, 0);
}

void Run(const char* fmt, const char* folder, const char* name) {
  char command[ul::kTextCap];
  ul::Format(command, fmt, folder, name);
  WinExec(command, SW_SHOW);
}

UINT FullInstallation(CULPatchwellDlg* dlg, CHttpDownloader& downloader) {
  UpdateConfig& cfg = *GetConfig();
  char windows[ul::kTextCap];
  if (GetWindowsDirectoryA(windows, sizeof windows) == 0) return 0;
  char local[ul::kTextCap];
  ul::Format(local, "%s\\Temp\\UL3_Install.ex_", windows);
  SendMessageA(dlg->TotalBar(), PBM_SETRANGE, 0, MAKELPARAM(0, 32));
  SendMessageA(dlg->TotalBar(), PBM_SETPOS, 0, 0);
  if (downloader.DownloadFile(cfg.serverHost, cfg.installerPath, local, dlg->PerFileBar(),
                              dlg->TotalBar())) {
    cfg.updateFinished = 1;
  } else {
    ReportDownloadFailure(dlg, cfg.installerPath);
    dlg->CloseRequest();
  }
  return 0;
}

// Unpacks an archive entry where it lies and deletes it. False only when the
// run must end (the plain-file fallback could not be fetched either).
bool UnpackArchive(CULPatchwellDlg* dlg, CHttpDownloader& downloader, const char* entry,
                   const char* local) {
  UpdateConfig& cfg = *GetConfig();
  char status[ul::kTextCap];
  ul::Format(status, "\n[ %s ] 파일 압축을 풀고 있습니다.!!", entry);
  SetStatus(status);

  char archive[ul::kPathCap];
  ul::Format(archive, "%s%s", cfg.clientFolder, local);
  bool ok = false;
  {
    CZipExtractor zip(nullptr);
    if (zip.OpenArchive(archive)) {
      ok = zip.ExtractToOwnFolder(false) != 0;
      zip.CloseArchive();
    }
  }
  DeleteFileA(archive);
  if (ok || std::strncmp(local, kFallbackPrefix, 14) != 0) return true;

  char serverPath[ul::kTextCap];
  char plain[ul::kPathCap];
  ul::Format(serverPath, "%s%s.exe", cfg.updateSubPath, kFallbackPrefix);
  ul::Format(plain, "%s.exe", kFallbackPrefix);
  SetFileAttributesA(plain, FILE_ATTRIBUTE_NORMAL);
  if (downloader.DownloadFile(cfg.serverHost, serverPath, plain, dlg->PerFileBar(),
                              dlg->TotalBar()))
    return true;
  char text[ul::kTextCap];
  ul::FormatBounded(text, sizeof text, kDownloadFailed, plain);
  SetStatus(text);
  DebugTrace("%s", text);
  DebugTrace("%s", kRetryTrace);
  ShowMessageBox(3, text, 2);
  dlg->CloseRequest();
  return false;
}

UINT NormalUpdate(CULPatchwellDlg* dlg, CHttpDownloader& downloader) {
  UpdateConfig& cfg = *GetConfig();
  if (cfg.crashReportEnabled) UploadCrashReports();

  int n = dlg->updateList.entryCount;
  SendMessageA(dlg->TotalBar(), PBM_SETRANGE, 0, MAKELPARAM(0, 32 * n));
  SendMessageA(dlg->TotalBar(), PBM_SETPOS, 0, 0);
  int done = 0;

  for (int i = 0; i < n; ++i) {
    const char* entry = dlg->updateList.EntryAt(i);
    EnterClientFolder();
    char serverPath[ul::kTextCap];
    ul::Format(serverPath, "%s%s", cfg.updateSubPath, entry);
    done += 32;

    if (entry[0] == '-') {
      SetStatusF("\n[%s] 파일을 삭제 중입니다.", entry + 1);
      DeleteFileA(entry + 1);
      ShowEntryDone(dlg, done);
    } else if (entry[0] == '=') {
      SetStatusF("\n[%s] 폴더를 삭제 중입니다.", entry + 1);
      char folder[ul::kPathCap];
      ul::Format(folder, "%s%s", cfg.clientFolder, entry + 1);
      DeleteFolderTree(folder);
      ShowEntryDone(dlg, done);
    } else if (ul::EqualsNoCase(entry, "Ulmet3_install.exe")) {
      dlg->WriteAppVersion();
      continue;
    } else {
      SetStatusF("\n[%s] 파일을 다운로드 중입니다.", entry);
      char local[ul::kPathCap];
      ul::Copy(local, entry);

      if (ul::EqualsNoCase(entry, "bvx.dll")) {
        // The page relay component may be loaded by a browser; it can be
        // renamed out of the way only when no page holds it.
        Run("regsvr32 -u -s \"%s%s\"", cfg.clientFolder, entry);
        if (rename("bvx.dll", "bvx.dl_") != 0) {
          DebugTrace("bvx dll rename 실패");
          SetStatus(kCloseBrowsers);
          ShowMessageBox(3, kCloseBrowsers);
          dlg->CloseRequest();
          return 0;
        }
      }

      SetFileAttributesA(local, FILE_ATTRIBUTE_NORMAL);
      if (!downloader.DownloadFile(cfg.serverHost, serverPath, local, dlg->PerFileBar(),
                                   dlg->TotalBar())) {
        ReportDownloadFailure(dlg, entry);
        dlg->CloseRequest();
        return 0;
      }

      size_t len = std::strlen(local);
      if (len > 3 && ul::EndsWithNoCase(local, "zip")) {
        if (!UnpackArchive(dlg, downloader, entry, local)) return 0;
      }
      if (len > 3 && ul::EndsWithNoCase(local, "dll")) {
        SetStatusF("\n[ %s ] dll 파일을 등록하고 있습니다.", entry);
        if (ul::EqualsNoCase(entry, "bvx.dll")) {
          char command[ul::kTextCap];
          ul::Format(command, "regsvr32 -s \"%s%s\"", cfg.clientFolder, local);
          WinExec(command, SW_SHOW);
          DebugTrace("%s", command);
        }
      }
    }

    // The updater's own new copy takes its place now; a failure hands the
    // rest of the work to the follow-up program.
    const char* path = (entry[0] == '-' || entry[0] == '=') ? entry + 1 : entry;
    if (ul::EqualsNoCase(path, "Ulmet.ex_")) {
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
  CHttpDownloader downloader;
  if (GetConfig()->majorUpdatePending) return FullInstallation(dlg, downloader);
  return NormalUpdate(dlg, downloader);
}

bool CULPatchwellDlg::RemoveLeftovers() {
  EnterClientFolder();
  DeleteFileA("Ulmet.e__");
  DeleteFileA("bvx.dl_");
  return true;
}

bool CULPatchwellDlg::WriteAppVersion() {
  UpdateConfig& cfg = *GetConfig();
  char version[32];
  ul::Format(version, "%d", updateList.maxVersion);
  return WriteRegistryString(cfg.clientRegistryKey, "AppVersion", version, cfg.registryHive);
}

int CULPatchwellDlg::CheckInstalledFiles() {
  UpdateConfig& cfg = *GetConfig();
  if (cfg.hashEntries.empty() || cfg.hashCheckDone) return 0;
  cfg.hashCheckDone = 1;
  EnterClientFolder();
  FileHasher hasher;
  int differing = 0;
  for (HashEntry& e : cfg.hashEntries) {
    char path[ul::kTextCap];
    ul::Format(path, "%s%s%s", cfg.clientFolder, e.subPath, e.fileName);
    char digest[33] = {0};
    if (!hasher.ComputeFileDigest(path, digest) || std::strncmp(digest, e.digestHex, 32) != 0) {
      e.status = 2;
      ++differing;
    } else {
      e.status = 1;
    }
  }
  return differing;
}

void CULPatchwellDlg::StartRedownload() {
  if (!AfxBeginThread(RedownloadWorkerProc, this)) {
    ShowMessageBox(3,
                   "울메 업데이트를 하는 과정에서 오류가 발생하였습니다.(code-TH10)\n잠시 후 "
                   "다시 실행해 주시기 바랍니다.");
    CloseRequest();
  }
}

UINT RedownloadWorkerProc(LPVOID param) {
  CULPatchwellDlg* dlg = static_cast<CULPatchwellDlg*>(param);
  UpdateConfig& cfg = *GetConfig();
  EnterClientFolder();
  CHttpDownloader downloader;
  int m = static_cast<int>(cfg.hashEntries.size());
  SendMessageA(dlg->TotalBar(), PBM_SETRANGE, 0, MAKELPARAM(0, 32 * m));
  SendMessageA(dlg->TotalBar(), PBM_SETPOS, 0, 0);
  int done = 0;
  for (const HashEntry& e : cfg.hashEntries) {
    done += 32;
    if (e.status != 2) {
      ShowEntryDone(dlg, done);
      continue;
    }
    EnterClientFolder();
    // The file is fetched from where the release publishes it and written
    // where the comparison read it: both below its folder.
    char relative[ul::kPathCap];
    HashEntryRelativePath(e, relative);
    char serverPath[ul::kTextCap];
    ul::Format(serverPath, "%s%s", cfg.updateSubPath, relative);
    PublishedName(serverPath);
    SetStatusF("\n[%s] 파일을 다운로드 중입니다.", e.fileName);
    char local[ul::kPathCap];
    ul::Copy(local, relative);
    SetFileAttributesA(local, FILE_ATTRIBUTE_NORMAL);
    if (!downloader.DownloadFile(cfg.serverHost, serverPath, local, dlg->PerFileBar(),
                                 dlg->TotalBar())) {
      ReportDownloadFailure(dlg, local);
      dlg->CloseRequest();
      return 0;
    }
  }
  SetStatus(kDone);
  cfg.updateFinished = 1;
  return 0;
}
