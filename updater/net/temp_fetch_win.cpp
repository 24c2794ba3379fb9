#include "net/temp_fetch_win.h"

#include <windows.h>

#include "net/held_file_win.h"
#include "net/http_downloader_win.h"

bool TempFolder(char (&out)[ul::kTextCap]) {
  char windows[ul::kTextCap];
  if (GetWindowsDirectoryA(windows, sizeof windows) == 0) return false;
  ul::Format(out, "%s\\Temp", windows);
  return true;
}

bool FetchHeldToTemp(const ul::ReleaseManifest* release, const char* host, const char* path, const char* name,
                     char (&local)[ul::kTextCap], ul::HeldFile* held, bool* refused, uint64_t limit) {
  *refused = false;
  char temp[ul::kTextCap];
  if (!TempFolder(temp)) return false;
  ul::Format(local, "%s\\%s", temp, name);
  DeleteFileA(local);
  CHttpDownloader downloader(release);
  downloader.LimitBody(limit);
  if (downloader.DownloadFile(host, path, local, nullptr, nullptr, held) == 1) return true;
  *refused = downloader.RefusedByRelease();
  return false;
}

bool FetchSmallFile(const ul::ReleaseManifest* release, const char* host, const char* path, const char* tempName,
                    std::size_t limit, std::string* bytes) {
  char local[ul::kTextCap] = {0};
  ul::HeldFile held;
  bool refused = false;
  // A refused file only means the file it serves is fetched another way,
  // so the run's state is not told.
  const bool ok = FetchHeldToTemp(release, host, path, tempName, local, &held, &refused, limit) && held.IsOpen() &&
                  held.ReadAll(limit, bytes);
  held.Close();
  DeleteFileA(local);
  return ok;
}
