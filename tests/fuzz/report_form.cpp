// The crash report receiver's reading of a post body: any bytes are read
// without fault and within the widths the updater's buffers allow, and
// every body the updater's own encoder makes is read, its log as it lay on
// the player's disk, and field for field when no raw field holds an '&'
// (with one, a separator inside a field may be read as the field's end).
#include "receive/report_form.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>
#include <string>

#include "crash/crash_log.h"
#include "crash/form_encode.h"
#include "fuzz_support.h"

namespace {

// A raw field as the updater has it: no zero byte. Whether it holds an '&'.
bool FillField(FuzzedDataProvider& in, char* field, std::size_t cap) {
  std::string s = in.ConsumeRandomLengthString(cap - 1);
  std::string clean;
  for (char c : s)
    if (c != '\0') clean += c;
  std::memcpy(field, clean.c_str(), clean.size() + 1);
  return clean.find('&') != std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  ulr::ReportForm form;
  std::string why;
  if (ulr::ParseReportForm(bytes, &form, &why) == ulr::FormVerdict::kOk) {
    FUZZ_CHECK(form.uid.size() <= ulr::kMaxUidBytes && form.ver.size() <= ulr::kMaxVersionBytes &&
                   form.fadd.size() <= ulr::kMaxOffsetBytes && form.ladd.size() <= ulr::kMaxOffsetBytes &&
                   form.fmod.size() <= ulr::kMaxModuleBytes && form.lmod.size() <= ulr::kMaxModuleBytes,
               fuzz::Shown(bytes));
    FUZZ_CHECK(!form.conts.empty() && ulr::RestoreLog(form.conts).size() <= ulr::kMaxLogBytes, fuzz::Shown(bytes));
  } else {
    FUZZ_CHECK(!why.empty(), fuzz::Shown(bytes));
  }

  FuzzedDataProvider in(data, size);
  CrashLogFields fields;
  bool separators = FillField(in, fields.ver, sizeof fields.ver);
  separators |= FillField(in, fields.fadd, sizeof fields.fadd);
  separators |= FillField(in, fields.fmod, sizeof fields.fmod);
  separators |= FillField(in, fields.ladd, sizeof fields.ladd);
  separators |= FillField(in, fields.lmod, sizeof fields.lmod);
  char uid[64];
  separators |= FillField(in, uid, sizeof uid);
  std::string log = in.ConsumeRemainingBytesAsString();
  log = log.substr(0, log.find('\0'));
  if (log.empty()) return 0;  // the updater sends no empty log
  const std::string body = BuildCrashReportBody(uid, fields, log.data(), log.size());
  FUZZ_CHECK(ulr::ParseReportForm(body, &form, &why) == ulr::FormVerdict::kOk, why + ": " + fuzz::Shown(body));
  FUZZ_CHECK(ulr::RestoreLog(form.conts) == log, fuzz::Shown(body));
  if (separators) return 0;
  FUZZ_CHECK(form.uid == uid && form.fver == "ulmet3" && form.ver == fields.ver && form.fadd == fields.fadd &&
                 form.fmod == fields.fmod && form.ladd == fields.ladd && form.lmod == fields.lmod,
             fuzz::Shown(body));
  return 0;
}
