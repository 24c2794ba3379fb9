#include "net/http_downloader_win.h"

#include <commctrl.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "formats/base/bounded.h"
#include "formats/base/partial_names.h"
#include "common/program_name_win.h"
#include "formats/base/safe_path.h"
#include "common/trace.h"
#include "formats/trust/release_check.h"
#include "formats/trust/file_hasher.h"
#include "formats/trust/release_crypto.h"
#include "files/dir_tree_win.h"
#include "net/download_progress_win.h"
#include "net/held_file_win.h"

namespace {

constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                                INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_PRAGMA_NOCACHE;
static_assert(kRequestFlags == 0x84400100, "always from the server, never the cache");

constexpr uint64_t kDefaultLength = 0x100000;  // assumed when the server sends no length
// Longer than any file a client folder can hold: beyond it a length is no
// length at all.
constexpr uint64_t kLongestLength = uint64_t{1} << 62;

// Content-Length as the server sent it: decimal digits after optional
// blanks, 64 bits wide (files of several gigabytes are served). False for
// anything else.
bool ParseLength(const char* text, uint64_t* length) {
  while (*text == ' ' || *text == '\t') ++text;
  if (*text < '0' || *text > '9') return false;
  uint64_t v = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    v = v * 10 + static_cast<uint64_t>(*text - '0');
    if (v > kLongestLength) return false;
  }
  *length = v;
  return true;
}

}  // namespace

// What a download must deliver: in a build with a release key, the size and
// SHA-256 of its record (without a record it accepts anything and never
// touches the system's hashing); for a file the hash list names, the
// list's digest, computed as the body arrives.
class BodyCheck {
 public:
  BodyCheck(const ul::ReleaseFile* expected, const char* md5Hex) : expected_(expected), md5Hex_(md5Hex) {
    if (expected_ != nullptr) sha_.reset(new (std::nothrow) ul::Sha256());
    if (md5Hex_ != nullptr) md5_.reset(new (std::nothrow) ChainedDigest());
  }
  // False as soon as the body is longer than its record.
  bool Add(const char* data, DWORD length) {
    if (md5_ != nullptr) md5_->Add(data, length);
    if (expected_ == nullptr) return true;
    received_ += length;
    return sha_ != nullptr && received_ <= expected_->size && sha_->Update(data, length);
  }
  // The hash list's digest, where it names the file.
  bool MatchesHashList(const char* objectPath) {
    if (md5Hex_ == nullptr) return true;
    char hex[ChainedDigest::kDigestChars + 1] = {0};
    if (md5_ != nullptr) md5_->Finish(hex);
    if (md5_ != nullptr && ul::EqualsNoCase(hex, md5Hex_)) return true;
    DebugTrace("Error : %s differs from the hash list", objectPath);
    return false;
  }
  bool Matches(const char* objectPath) {
    if (expected_ == nullptr) return true;
    uint8_t digest[ul::kSha256Bytes];
    if (sha_ != nullptr && sha_->Finish(digest) && ul::MatchesRecord(*expected_, received_, digest))
      return true;
    DebugTrace("Release check: %s differs from the signed release", objectPath);
    return false;
  }

 private:
  const ul::ReleaseFile* expected_;
  const char* md5Hex_;
  std::unique_ptr<ul::Sha256> sha_;
  std::unique_ptr<ChainedDigest> md5_;
  unsigned long long received_ = 0;
};

namespace {

// Creates the folder that localPath names a file in.
void MakeParentFolder(const char* localPath) {
  const char* slash = std::strrchr(localPath, '/');
  if (slash == nullptr) slash = std::strrchr(localPath, '\\');
  if (slash == nullptr) return;
  char dirPath[ul::kPathCap] = {0};
  std::size_t n = static_cast<std::size_t>(slash - localPath);
  if (n > sizeof(dirPath) - 1) n = sizeof(dirPath) - 1;
  std::memcpy(dirPath, localPath, n);
  dirPath[n] = '\0';
  DebugTrace("dirPath = %s, localFile = %s", dirPath, localPath);
  MakeDirectoryPath(dirPath);
}

}  // namespace

CHttpDownloader::CHttpDownloader(const ul::ReleaseManifest* release) : release_(release) {
  userName_[0] = '\0';
  password_[0] = '\0';
  host_[0] = '\0';
  objectPath_[0] = '\0';
}

CHttpDownloader::~CHttpDownloader() = default;

void CHttpDownloader::ReleaseHandles() {
  request_.Reset();
  connection_.Reset();
  internet_.Reset();
}

int CHttpDownloader::DownloadFile(const char* host, const char* objectPath, char* localPath,
                                  HWND fileBar, HWND totalBar, ul::HeldFile* held, const char* md5Hex) {
  DownloadProgress progress(fileBar, totalBar);
  refused_ = false;
  if (held != nullptr) held->Close();
  port_ = INTERNET_DEFAULT_HTTP_PORT;
  service_ = INTERNET_SERVICE_HTTP;
  if (host == nullptr || objectPath == nullptr || localPath == nullptr) return 0;
  // A cut host or path would fetch some other resource.
  if (ul::Copy(host_, host) != std::strlen(host) ||
      ul::Copy(objectPath_, objectPath) != std::strlen(objectPath)) {
    return 0;
  }
  const ul::ReleaseFile* expected = release_ != nullptr ? release_->Find(objectPath) : nullptr;
  if (release_ != nullptr && expected == nullptr) {
    DebugTrace("Release check: %s is not in the signed release", objectPath);
    refused_ = true;
    return 0;
  }
  BodyCheck check(expected, md5Hex);
  int result = 0;
  if (OpenRequest() && AnswerIsFile()) {
    uint64_t length = kDefaultLength;
    const bool lengthKnown = ContentLength(&length);
    progress.SetLength(length);
    if (lengthKnown && limit_ != 0 && length > limit_) {
      DebugTrace("Error : %s announces %llu bytes, more than %llu", objectPath_,
                 static_cast<unsigned long long>(length), static_cast<unsigned long long>(limit_));
      ReleaseHandles();
      return 0;
    }
    // An announced empty resource: nothing to write.
    if (lengthKnown && length == 0) {
      result = check.Matches(objectPath_) ? 1 : 0;
      refused_ = result == 0;
    } else {
      result = StoreBody(localPath, lengthKnown, length, progress, check);
      if (result == 1 && held != nullptr && !HoldChecked(localPath, expected, held)) result = 0;
    }
  }
  ReleaseHandles();
  return result;
}

// What is checked is what the caller reads or starts: the stored file held
// open for reading only, so that nobody can change, rename or delete it
// from here on, and with a release its bytes as read through that very
// handle matched once more against the record.
bool CHttpDownloader::HoldChecked(const char* localPath, const ul::ReleaseFile* expected,
                                  ul::HeldFile* held) {
  if (!held->Open(localPath)) return false;
  if (expected == nullptr) return true;
  uint8_t digest[ul::kSha256Bytes];
  uint64_t size = 0;
  if (held->Sha256(digest, &size) && ul::MatchesRecord(*expected, size, digest)) return true;
  DebugTrace("Release check: %s changed after it was stored", objectPath_);
  held->Close();
  DeleteFileA(localPath);
  refused_ = true;
  return false;
}

// One set of Internet handles per call: session, connection, request; the
// request is sent at once.
bool CHttpDownloader::OpenRequest() {
  char agent[ul::kPathCap];
  ProgramName(agent);  // the agent is the program's own name
  internet_.Reset(InternetOpenA(agent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (!internet_) return false;
  const bool credentials = userName_[0] != '\0';
  connection_.Reset(InternetConnectA(internet_.Get(), host_, port_,
                                     credentials ? userName_ : nullptr,
                                     credentials ? password_ : nullptr, service_, 0,
                                     reinterpret_cast<DWORD_PTR>(this)));
  if (!connection_) return false;
  const char* accept[] = {"*/*", nullptr};
  request_.Reset(HttpOpenRequestA(connection_.Get(), nullptr, objectPath_, "HTTP/1.1", nullptr,
                                  accept, kRequestFlags, reinterpret_cast<DWORD_PTR>(this)));
  return request_ && HttpSendRequestA(request_.Get(), nullptr, 0, nullptr, 0);
}

// Only a complete answer to the request counts; an error page or an
// authentication demand is no file, and nothing local is touched for it.
bool CHttpDownloader::AnswerIsFile() {
  char text[32] = {0};
  DWORD size = sizeof(text);
  if (!HttpQueryInfoA(request_.Get(), HTTP_QUERY_STATUS_CODE, text, &size, nullptr)) return false;
  const long status = std::atol(text);
  return status == 200 || status == 206;
}

// True when the answer announces a usable length (then in *length).
bool CHttpDownloader::ContentLength(uint64_t* length) {
  char text[32] = {0};
  DWORD size = sizeof(text);
  if (!HttpQueryInfoA(request_.Get(), HTTP_QUERY_CONTENT_LENGTH, text, &size, nullptr)) return false;
  if (ParseLength(text, length)) return true;
  *length = kDefaultLength;
  return false;
}

// Writes the body beside localPath and moves it into place when all of it
// has arrived. 1 when the file stands complete at localPath.
int CHttpDownloader::StoreBody(const char* localPath, bool lengthKnown, uint64_t length,
                               DownloadProgress& progress, BodyCheck& check) {
  MakeParentFolder(localPath);
  if (!ul::DownloadPathFits(localPath)) return 0;
  char partial[ul::kTextCap];
  ul::Format(partial, "%s%s", localPath, ul::kDownloadPartialSuffix);
  // With a release the partial file must be this download's own: a file
  // someone made under its name first is never written into.
  ul::PartialFile out;
  if (!out.Create(partial, release_ != nullptr)) return 0;
  unsigned long long received = 0;
  bool ok = ReceiveBody(out, partial, progress, &received, check);
  ReleaseHandles();

  // A connection that drops mid-body ends the reads like a normal end; only
  // the announced length tells the two apart.
  if (ok && lengthKnown && received != length) {
    DebugTrace("Error : %llu of %llu bytes", received, static_cast<unsigned long long>(length));
    ok = false;
  }
  if (ok && !check.Matches(objectPath_)) {
    ok = false;
    refused_ = true;
  }
  if (ok && !check.MatchesHashList(objectPath_)) ok = false;
  if (ok) return out.Finish(localPath) ? 1 : 0;
  out.Discard();
  return 0;
}

// Reads the body into out, each read followed by its pause (PacedReader).
bool CHttpDownloader::ReceiveBody(ul::PartialFile& out, const char* partial,
                                  DownloadProgress& progress, unsigned long long* received,
                                  BodyCheck& check) {
  std::vector<char> buffer(reader_.size());
  for (;;) {
    DWORD got = 0;
    if (!reader_.Next(request_.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got)) {
      DebugTrace("Error : %d", static_cast<int>(GetLastError()));
      return false;
    }
    if (got == 0) return true;
    if (!check.Add(buffer.data(), got)) {
      DebugTrace("Release check: %s is longer than the signed release says", objectPath_);
      refused_ = true;
      return false;
    }
    if (!out.Write(buffer.data(), got)) {
      DebugTrace("Error : write %s", partial);
      return false;
    }
    *received += got;
    if (limit_ != 0 && *received > limit_) {
      DebugTrace("Error : %s is longer than %llu bytes", objectPath_, static_cast<unsigned long long>(limit_));
      return false;
    }
    progress.Received(*received);
  }
}
