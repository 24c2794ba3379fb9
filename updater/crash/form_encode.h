// The form-encoded body of a crash report post, and the helpers that pick
// and name crash logs. No network here: the Windows upload only sends what
// these build.
//
// No Windows headers here: this builds natively for the sanitizer runs.
#pragma once

#include <cstddef>
#include <string>

struct CrashLogFields;

// Form encoding of text into out (capacity bytes, terminator included): a
// blank becomes '+'; '*', '-', '.', '0'-'9', '@', 'A'-'Z', '_', 'a'-'z' stay;
// every other byte becomes '%' and two upper-case hexadecimal digits. A
// character whose encoding would reach position capacity is not written and
// encoding stops there. Returns out, always terminated (capacity >= 1).
char* FormEncode(char* out, int capacity, const char* text);

// Largest size of a crash log that is posted; a larger one is deleted unsent.
constexpr long long kCrashLogMaxBytes = 1048576;

// True when the lower-cased file name contains "_exception.log".
bool IsCrashLogName(const char* fileName);

// The report's uid: the file name up to (not including) its last '_', in its
// own letter case, cut to cap - 1 characters. Empty when there is no '_'.
void CrashLogUid(const char* fileName, char* uid, std::size_t cap);

// Turns every line feed of contents (length bytes) into CR LF.
std::string ToCrLf(const char* contents, std::size_t length);

// The whole request body:
// "uid=%s&fver=ulmet3&ver=%s&fadd=%s&fmod=%s&ladd=%s&lmod=%s&conts=%s", the
// summary fields inserted as they stand and conts the log's contents (length
// bytes, up to the first zero byte) with CR LF line ends, form-encoded.
std::string BuildCrashReportBody(const char* uid, const CrashLogFields& fields,
                                 const char* contents, std::size_t length);
