#include "crash/crash_upload_win.h"

#include <windows.h>
#include <direct.h>
#include <wininet.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "formats/base/bounded.h"
#include "formats/base/owned_win.h"
#include "common/program_name_win.h"
#include "config/update_config.h"
#include "crash/crash_log.h"
#include "crash/form_encode.h"

namespace {
// The whole file, or false when it cannot be opened or holds nothing.
bool ReadWholeFile(const char* path, std::vector<char>& data) {
  FILE* f = std::fopen(path, "rb");
  if (f == nullptr) return false;
  std::fseek(f, 0, SEEK_END);
  long size = std::ftell(f);
  std::fseek(f, 0, SEEK_SET);
  data.assign(static_cast<size_t>(size > 0 ? size : 0) + 1, '\0');
  size_t n = size > 0 ? std::fread(data.data(), 1, static_cast<size_t>(size), f) : 0;
  std::fclose(f);
  data.resize(n);
  return n > 0;
}

}  // namespace

int PostForm(const char* host, const char* path, const char* body, std::size_t length) {
  char agent[ul::kPathCap];
  ProgramName(agent);
  ul::InternetHandle session(
      InternetOpenA(agent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (!session.Get()) return kNoAnswer;
  ul::InternetHandle connection(InternetConnectA(session.Get(), host, INTERNET_DEFAULT_HTTP_PORT,
                                             nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0));
  if (!connection.Get()) return kNoAnswer;
  ul::InternetHandle request(HttpOpenRequestA(connection.Get(), "POST", path, nullptr, nullptr,
                                          nullptr, INTERNET_FLAG_EXISTING_CONNECT, 0));
  if (!request.Get()) return kNoAnswer;
  const char header[] = "Content-Type:application/x-www-form-urlencoded\r\n";
  HttpAddRequestHeadersA(request.Get(), header, static_cast<DWORD>(-1L),
                         HTTP_ADDREQ_FLAG_ADD_IF_NEW);
  if (!HttpSendRequestA(request.Get(), nullptr, 0, const_cast<char*>(body), static_cast<DWORD>(length)))
    return kNoAnswer;
  char status[32] = {0};
  DWORD size = sizeof status;
  if (!HttpQueryInfoA(request.Get(), HTTP_QUERY_STATUS_CODE, status, &size, nullptr)) return kNoAnswer;
  return std::atoi(status);
}

void UploadCrashReports() {
  UpdateConfig& cfg = *GetConfig();
  char host[ul::kTextCap];
  char path[ul::kTextCap];
  ul::Copy(host, cfg.program.crashReportHost);
  ul::Copy(path, cfg.program.crashReportPath);

  // The client writes its logs into "Log" beside the updater.
  char folder[ul::kTextCap] = {0};
  GetModuleFileNameA(nullptr, folder, 1024);
  char* slash = std::strrchr(folder, '\\');
  if (slash) *slash = '\0';
  _chdir(folder);

  WIN32_FIND_DATAA found;
  ul::FindHandle find(FindFirstFileA("Log\\*.*", &found));
  if (!find) return;
  do {
    const char* name = found.cFileName;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;

    char logPath[ul::kTextCap];
    ul::Format(logPath, "%s\\Log\\%s", folder, name);
    unsigned long long size =
        (static_cast<unsigned long long>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
    // Only crash logs are ours to delete: a large file of another kind in
    // the folder is left alone.
    if (!IsCrashLogName(name)) continue;
    if (size > static_cast<unsigned long long>(kCrashLogMaxBytes)) {
      DeleteFileA(logPath);
      continue;
    }

    char uid[ul::kPathCap];
    CrashLogUid(name, uid, sizeof uid);
    CrashLogFields fields;
    ParseCrashLog(logPath, fields);

    // A log that cannot be opened now (the client may be writing it) ends
    // the pass and waits for the next run; an empty one would end every pass
    // for good, so it is passed over.
    std::vector<char> content;
    if (!ReadWholeFile(logPath, content)) {
      if (size == 0) continue;
      break;
    }
    std::string body = BuildCrashReportBody(uid, fields, content.data(), content.size());
    // The receiver answers 5xx when it could not keep the report (its store
    // failed, its disk is full, it is overloaded): the log stays for the
    // next start, and the pass ends as for a post that did not go out. Any
    // other answer means the report was taken or will never be.
    const int status = PostForm(host, path, body.data(), body.size());
    if (status == kNoAnswer || (status >= 500 && status <= 599)) break;
    DeleteFileA(logPath);
  } while (FindNextFileA(find.Get(), &found));
}
