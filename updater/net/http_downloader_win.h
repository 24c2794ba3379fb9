// Fetches one file over plain HTTP (port 80) into a local file, moving two
// progress bars while the data arrives. No time-outs, retries or cache.
#pragma once

#include <windows.h>

#include <wininet.h>

#include <cstdio>

#include "common/owned_win.h"

// One file is worth this many steps on the progress bars: the downloader
// moves the per-file bar 0..kStepsPerFile and the total bar by as much.
constexpr int kStepsPerFile = 32;

class BodyCheck;
class DownloadProgress;
namespace ul {
class ReleaseManifest;
}

class CHttpDownloader {
 public:
  // With a release (a build with a release key) only what it lists is
  // fetched, and only a body of the recorded size and SHA-256 is stored.
  explicit CHttpDownloader(const ul::ReleaseManifest* release = nullptr);
  virtual ~CHttpDownloader();
  CHttpDownloader(const CHttpDownloader&) = delete;
  CHttpDownloader& operator=(const CHttpDownloader&) = delete;

  // GETs objectPath from host into localPath. 1 when the whole body was
  // stored (or the server announced an empty body, which creates no file),
  // 0 otherwise; on 0 an existing file at localPath is left as it was.
  // localPath is written exactly as given, its folder created first: the
  // caller has turned the server's '!' into blanks before it checked the
  // path, so nothing here may change it afterwards. With both
  // bars given, the per-file bar runs 0..kStepsPerFile for this file and the total bar
  // advances by the same steps from its position at the start.
  // With a release: 0 without a request when objectPath is not listed, and
  // 0 when the body differs from its record (nothing at localPath changes;
  // the partial copy is deleted). An announced empty body must be listed
  // as empty.
  int DownloadFile(const char* host, const char* objectPath, char* localPath, HWND fileBar,
                   HWND totalBar);

 private:
  bool OpenRequest();
  bool AnswerIsFile();
  bool ContentLength(int* length);
  int StoreBody(const char* localPath, bool lengthKnown, int length, DownloadProgress& progress,
                BodyCheck& check);
  bool ReceiveBody(std::FILE* out, const char* partial, DownloadProgress& progress,
                   unsigned long long* received, BodyCheck& check);
  void ReleaseHandles();

  char userName_[256];
  char password_[256];
  char host_[256];
  char objectPath_[512];
  unsigned short port_ = 80;
  int service_ = INTERNET_SERVICE_HTTP;
  const ul::ReleaseManifest* release_;
  ul::InternetHandle internet_;
  ul::InternetHandle connection_;
  ul::InternetHandle request_;
};
