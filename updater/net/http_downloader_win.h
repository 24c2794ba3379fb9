// Fetches one file over plain HTTP (port 80) into a local file, moving two
// progress bars while the data arrives. No time-outs, retries or cache.
#pragma once

#include <windows.h>

#include <wininet.h>

#include <cstdint>

#include "formats/base/owned_win.h"

#include "net/download_progress_win.h"
#include "net/paced_read_win.h"

class BodyCheck;
namespace ul {
class HeldFile;
class PartialFile;
class ReleaseManifest;
struct ReleaseFile;
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
  // as empty. The partial copy is then created new (see ul::PartialFile).
  // held: the stored file is held open (see ul::HeldFile) for the caller,
  // who reads it or starts it by its name while it is held; with a release
  // it is checked against its record once more through that handle, and
  // when it no longer matches, it is deleted and the result is 0. An
  // announced empty body leaves nothing held.
  // md5Hex: the hash list's digest of the file, where the list names it; a
  // body of another digest is not stored (0).
  // A body shorter than the length the server announced is a failure,
  // whatever the length.
  int DownloadFile(const char* host, const char* objectPath, char* localPath, HWND fileBar,
                   HWND totalBar, ul::HeldFile* held = nullptr, const char* md5Hex = nullptr);

  // Bodies longer than limit bytes are refused: announced longer, before
  // anything is written; longer as they arrive, as soon as they are. 0: no
  // limit (the default).
  void LimitBody(uint64_t limit) { limit_ = limit; }
  // Bytes a read of the body may take before its pause (PacedReader).
  void PaceReads(uint32_t bytes) { reader_ = PacedReader(bytes); }

  // True when the last DownloadFile failed because of the release: the path
  // is not listed, or what arrived is not what the release records.
  bool RefusedByRelease() const { return refused_; }

 private:
  bool OpenRequest();
  bool AnswerIsFile();
  bool ContentLength(uint64_t* length);
  int StoreBody(const char* localPath, bool lengthKnown, uint64_t length, DownloadProgress& progress,
                BodyCheck& check);
  bool ReceiveBody(ul::PartialFile& out, const char* partial, DownloadProgress& progress,
                   unsigned long long* received, BodyCheck& check);
  bool HoldChecked(const char* localPath, const ul::ReleaseFile* expected, ul::HeldFile* held);
  void ReleaseHandles();

  char userName_[256];
  char password_[256];
  char host_[256];
  char objectPath_[512];
  unsigned short port_ = 80;
  int service_ = INTERNET_SERVICE_HTTP;
  const ul::ReleaseManifest* release_;
  bool refused_ = false;
  uint64_t limit_ = 0;
  PacedReader reader_;
  ul::InternetHandle internet_;
  ul::InternetHandle connection_;
  ul::InternetHandle request_;
};
