#include "net/http_downloader_win.h"

#include <commctrl.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/bounded.h"
#include "common/program_name_win.h"
#include "common/trace.h"
#include "files/dir_tree_win.h"

namespace {

constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                                INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_PRAGMA_NOCACHE;
static_assert(kRequestFlags == 0x84400100, "always from the server, never the cache");

constexpr int kDefaultLength = 0x100000;  // assumed when the server sends no length
constexpr DWORD kReadSize = 4096;
// The body reaches the disk in pieces of this size rather than with one
// system call after every 4 KB read.
constexpr std::size_t kWriteBuffer = 65536;
constexpr std::size_t kMaxPathLen = 259;

// The body is written under this suffix and moved into place only when all
// of it has arrived, so a failed transfer leaves the previous file intact.
const char kPartialSuffix[] = "~dl";

// Content-Length as the server sent it: decimal digits after optional
// blanks. False for anything else (or a value beyond int).
bool ParseLength(const char* text, int* length) {
  while (*text == ' ' || *text == '\t') ++text;
  if (*text < '0' || *text > '9') return false;
  long long v = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    v = v * 10 + (*text - '0');
    if (v > INT_MAX) return false;
  }
  *length = static_cast<int>(v);
  return true;
}

}  // namespace

CHttpDownloader::CHttpDownloader() {
  userName_[0] = '\0';
  password_[0] = '\0';
  host_[0] = '\0';
  objectPath_[0] = '\0';
}

CHttpDownloader::~CHttpDownloader() { CloseHandles(); }

void CHttpDownloader::CloseHandles() {
  if (request_ != nullptr) InternetCloseHandle(request_);
  if (connection_ != nullptr) InternetCloseHandle(connection_);
  if (internet_ != nullptr) InternetCloseHandle(internet_);
  request_ = connection_ = internet_ = nullptr;
}

int CHttpDownloader::DownloadFile(const char* host, const char* objectPath, char* localPath,
                                  HWND fileBar, HWND totalBar) {
  const bool bars = fileBar != nullptr && totalBar != nullptr;
  DWORD base = 0;
  DWORD lastPos = 0;
  if (bars) {
    SendMessageA(fileBar, PBM_SETPOS, 0, 0);
    base = static_cast<DWORD>(SendMessageA(totalBar, PBM_GETPOS, 0, 0));
  }

  port_ = INTERNET_DEFAULT_HTTP_PORT;
  service_ = INTERNET_SERVICE_HTTP;
  if (host == nullptr || objectPath == nullptr || localPath == nullptr) return 0;
  // A cut host or path would fetch some other resource.
  if (ul::Copy(host_, host) != std::strlen(host) ||
      ul::Copy(objectPath_, objectPath) != std::strlen(objectPath)) {
    return 0;
  }

  char agent[ul::kPathCap];
  ProgramName(agent);  // the agent is the program's own name
  internet_ = InternetOpenA(agent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  if (internet_ == nullptr) return 0;
  const bool credentials = userName_[0] != '\0';
  connection_ = InternetConnectA(internet_, host_, port_, credentials ? userName_ : nullptr,
                                 credentials ? password_ : nullptr, service_, 0,
                                 reinterpret_cast<DWORD_PTR>(this));
  if (connection_ == nullptr) {
    CloseHandles();
    return 0;
  }
  const char* accept[] = {"*/*", nullptr};
  request_ = HttpOpenRequestA(connection_, nullptr, objectPath_, "HTTP/1.1", nullptr, accept,
                              kRequestFlags, reinterpret_cast<DWORD_PTR>(this));
  if (request_ == nullptr || !HttpSendRequestA(request_, nullptr, 0, nullptr, 0)) {
    CloseHandles();
    return 0;
  }

  // Only a complete answer to the request counts; an error page or an
  // authentication demand is no file, and nothing local is touched for it.
  char text[32] = {0};
  DWORD size = sizeof(text);
  if (!HttpQueryInfoA(request_, HTTP_QUERY_STATUS_CODE, text, &size, nullptr)) {
    CloseHandles();
    return 0;
  }
  const long status = std::atol(text);
  if (status != 200 && status != 206) {
    CloseHandles();
    return 0;
  }

  int length = kDefaultLength;
  bool lengthKnown = false;
  std::memset(text, 0, sizeof(text));
  size = sizeof(text);
  if (HttpQueryInfoA(request_, HTTP_QUERY_CONTENT_LENGTH, text, &size, nullptr)) {
    lengthKnown = ParseLength(text, &length);
    if (!lengthKnown) length = kDefaultLength;
  }
  if (lengthKnown && length == 0) {
    CloseHandles();
    return 1;  // an empty resource: nothing to write
  }

  const char* slash = std::strrchr(localPath, '/');
  if (slash == nullptr) slash = std::strrchr(localPath, '\\');
  if (slash != nullptr) {
    char dirPath[ul::kPathCap] = {0};
    std::size_t n = static_cast<std::size_t>(slash - localPath);
    if (n > sizeof(dirPath) - 1) n = sizeof(dirPath) - 1;
    std::memcpy(dirPath, localPath, n);
    dirPath[n] = '\0';
    DebugTrace("dirPath = %s, localFile = %s", dirPath, localPath);
    MakeDirectoryPath(dirPath);
  }

  char partial[ul::kTextCap];
  if (ul::Format(partial, "%s%s", localPath, kPartialSuffix) > kMaxPathLen) {
    CloseHandles();
    return 0;
  }
  FILE* out = std::fopen(partial, "wb");
  if (out == nullptr) {
    CloseHandles();
    return 0;
  }
  std::setvbuf(out, nullptr, _IOFBF, kWriteBuffer);

  DWORD step = static_cast<DWORD>(length) / kStepsPerFile;
  if (step == 0) step = 1;

  char* buffer = new char[kReadSize];
  INTERNET_BUFFERSA record;
  std::memset(&record, 0, sizeof(record));
  record.dwStructSize = sizeof(record);
  unsigned long long received = 0;
  bool ok = true;
  for (;;) {
    record.lpvBuffer = buffer;
    record.dwBufferLength = kReadSize;
    if (!InternetReadFileExA(request_, &record, IRF_NO_WAIT, 0)) {
      DebugTrace("Error : %d", static_cast<int>(GetLastError()));
      ok = false;
      break;
    }
    Sleep(1);
    const DWORD got = record.dwBufferLength;
    if (got == 0) {
      // No data at this moment is not the end when the connection still
      // has some to come; this waits for it and says 0 at the real end.
      DWORD available = 0;
      if (InternetQueryDataAvailable(request_, &available, 0, 0) && available > 0) continue;
      break;
    }
    if (std::fwrite(buffer, 1, got, out) != got) {
      DebugTrace("Error : write %s", partial);
      ok = false;
      break;
    }
    received += got;
    if (bars) {
      DWORD pos = static_cast<DWORD>(received / step);
      if (pos != lastPos) {
        lastPos = pos;
        SendMessageA(fileBar, PBM_SETPOS, pos, 0);
        SendMessageA(totalBar, PBM_SETPOS, base + pos, 0);
      }
    }
  }
  delete[] buffer;
  if (std::fclose(out) != 0) ok = false;
  CloseHandles();

  // A connection that drops mid-body ends the reads like a normal end; only
  // the announced length tells the two apart.
  if (ok && lengthKnown && received != static_cast<unsigned long long>(length)) {
    DebugTrace("Error : %llu of %d bytes", received, length);
    ok = false;
  }
  if (ok && !MoveFileExA(partial, localPath, MOVEFILE_REPLACE_EXISTING)) {
    DebugTrace("Error : %d", static_cast<int>(GetLastError()));
    ok = false;
  }
  if (!ok) {
    DeleteFileA(partial);
    return 0;
  }
  return 1;
}
