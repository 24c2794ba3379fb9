// The body of one crash report post, taken apart: the seven form fields in
// their fixed order, only "conts" form-encoded, the others raw as the
// updater read them from the log (a version may end in a raw line feed).
//
// No network and no store here: this reads untrusted bytes, so it builds in
// the fuzz tree too.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ulr {

// The updater never sends a log above this size (it deletes it unsent).
constexpr std::size_t kMaxLogBytes = 1048576;
// The widest value of each raw field, as the updater's buffers bound them.
constexpr std::size_t kMaxUidBytes = 259;  // a file name before its last '_'
constexpr std::size_t kMaxFverBytes = 32;
constexpr std::size_t kMaxVersionBytes = 7;
constexpr std::size_t kMaxOffsetBytes = 8;
constexpr std::size_t kMaxModuleBytes = 1023;
// Every line feed of the log travels as CR LF, and each of those two bytes
// as a three-character escape: a log of line feeds alone is six characters
// a byte once encoded, the most any log can take.
constexpr std::size_t kMaxEncodedLogBytes = 6 * kMaxLogBytes;
// The largest body a real post can have: the encoded log and the widest
// raw fields with their names.
constexpr std::size_t kMaxBodyBytes = kMaxEncodedLogBytes + 4096;

struct ReportForm {
  std::string uid, fver, ver, fadd, fmod, ladd, lmod;
  std::string conts;  // decoded: the log's bytes as sent, line ends CR LF
};

enum class FormVerdict {
  kOk,
  kMalformed,    // not the post's shape: a field missing, out of order or too wide
  kBadEncoding,  // conts holds a broken escape or a byte that must have been escaped
  kLogTooLarge,  // the log itself is above kMaxLogBytes
};

// Takes body apart into *form, with work linear in its size. The raw
// fields may hold '&' and '=', even the next field's separator (a module
// or a log's name may hold them); each ends at the first place that lets
// every later field fit its width above, so whatever the updater sends is
// read, and a body that no post can be is refused without a search beyond
// those widths. On any verdict but kOk, *why says what is wrong, in one
// line.
FormVerdict ParseReportForm(std::string_view body, ReportForm* form, std::string* why);

// The log as it lay on the player's disk: the updater turned every line
// feed into CR LF, so a CR before each line feed is taken away again. A
// text with a line feed that has no CR before it did not come that way and
// is returned as it stands.
std::string RestoreLog(std::string_view conts);

}  // namespace ulr
