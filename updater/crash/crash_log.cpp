#include "crash/crash_log.h"

#include <cstring>

#include "formats/base/bounded.h"
#include "formats/base/text_line.h"

namespace {

// The separator that closes the stack dump: "//" and 55 '='.
const char kEndLine[] = "//=======================================================";
static_assert(sizeof kEndLine - 1 == 2 + 55, "end line is // and 55 '='");

// Up to n characters from src into dst, zero-padded like strncpy; dst holds
// n + 1 bytes and is terminated.
void TakeChars(char* dst, const char* src, std::size_t n) {
  std::size_t i = 0;
  for (; i < n && src[i] != '\0'; ++i) dst[i] = src[i];
  for (; i <= n; ++i) dst[i] = '\0';
}

// The text after the last backslash, without one trailing line feed.
void TakeModule(char* dst, const char* backslash) {
  ul::CopyBounded(dst, kCrashModuleCap, backslash + 1);
  ul::StripNewline(dst);
}

}  // namespace

void ParseCrashLogStream(std::FILE* file, char* fadd, char* fmod, char* ladd, char* lmod, char* ver) {
  char line[ul::kLineCap];
  bool inStack = false;
  while (ul::ReadTextLine(file, line)) {
    if (std::strstr(line, "Version : ") != nullptr) {
      // The line holds ": ", so the first ':' has at least one character
      // after it and two past it is still inside the text.
      const char* colon = std::strchr(line, ':');
      TakeChars(ver, colon + 2, kCrashVersionCap - 1);
    }
    if (std::strstr(line, "Fault address:") != nullptr) {
      const char* labelColon = std::strchr(line, ':');
      const char* offsetColon = std::strchr(labelColon + 1, ':');
      if (offsetColon != nullptr) {
        TakeChars(fadd, offsetColon + 1, kCrashAddressCap - 1);
      } else {
        fadd[0] = '\0';
      }
      const char* backslash = std::strrchr(line, '\\');
      if (backslash != nullptr) TakeModule(fmod, backslash);
    }
    if (std::strstr(line, "Address   Frame") != nullptr) inStack = true;
    if (!inStack) continue;

    const char* backslash = std::strrchr(line, '\\');
    if (backslash != nullptr) {
      const char* colon = std::strchr(line, ':');
      if (colon != nullptr) {
        TakeChars(ladd, colon + 1, kCrashAddressCap - 1);
      } else {
        ladd[0] = '\0';
      }
      TakeModule(lmod, backslash);
    }
    if (std::strstr(line, kEndLine) != nullptr) return;
  }
}

void ParseCrashLog(const char* path, char* fadd, char* fmod, char* ladd, char* lmod, char* ver) {
  if (path == nullptr || path[0] == '\0') return;
  std::FILE* file = std::fopen(path, "rt");
  if (file == nullptr) return;
  ParseCrashLogStream(file, fadd, fmod, ladd, lmod, ver);
  std::fclose(file);
}

void ParseCrashLog(const char* path, CrashLogFields& fields) {
  ParseCrashLog(path, fields.fadd, fields.fmod, fields.ladd, fields.lmod, fields.ver);
}
