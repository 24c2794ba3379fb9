// What groups crash reports: the faulting module and offset, and the module
// and offset of the last stack line, as the updater took them from the log.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "receive/report_form.h"

namespace ulr {

// Module names are Windows file names, so letter case does not tell two
// apart; offsets are hexadecimal. The key compares them that way.
std::string SignatureKey(const ReportForm& form);

// A signature's number, the same on every receiver and store: the first
// 63 bits of the key's SHA-256. Two keys share a number with a chance of
// about n^2 / 2^64 for n signatures.
std::int64_t SignatureId(const std::string& key);

// The client version on one line: ver without the line feed, carriage
// return and blanks that can follow a short version.
std::string ClientVersion(std::string_view ver);

// Whether client version a is older than b: by number when both are
// numbers (1003 before 1004, 999 before 1000), else by their bytes.
bool OlderVersion(const std::string& a, const std::string& b);

}  // namespace ulr
