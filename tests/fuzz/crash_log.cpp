// The crash log reader over any bytes, writing into buffers of exactly the
// documented capacities (so that one byte too many is an ASan report).
// Besides memory safety: the fields stay within their lengths, the module
// names keep no line feed, and the fields found go into a report body that
// carries them as they stand.
#include "crash/crash_log.h"

#include <cstring>
#include <memory>
#include <string>

#include "crash/form_encode.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::unique_ptr<char[]> ver(new char[kCrashVersionCap]());
  std::unique_ptr<char[]> fadd(new char[kCrashAddressCap]());
  std::unique_ptr<char[]> fmod(new char[kCrashModuleCap]());
  std::unique_ptr<char[]> ladd(new char[kCrashAddressCap]());
  std::unique_ptr<char[]> lmod(new char[kCrashModuleCap]());
  {
    fuzz::ByteStream in(data, size);
    ParseCrashLogStream(in.get(), fadd.get(), fmod.get(), ladd.get(), lmod.get(), ver.get());
  }
  const std::string text(reinterpret_cast<const char*>(data), size);
  FUZZ_CHECK(std::strlen(ver.get()) < kCrashVersionCap, text);
  FUZZ_CHECK(std::strlen(fadd.get()) < kCrashAddressCap, text);
  FUZZ_CHECK(std::strlen(ladd.get()) < kCrashAddressCap, text);
  FUZZ_CHECK(std::strchr(fmod.get(), '\n') == nullptr, text);
  FUZZ_CHECK(std::strchr(lmod.get(), '\n') == nullptr, text);
  // A version, an address or a module is taken only from a line that has
  // its label.
  if (ver[0] != '\0') FUZZ_CHECK(text.find("Version : ") != std::string::npos, text);
  if (fadd[0] != '\0' || fmod[0] != '\0') {
    FUZZ_CHECK(text.find("Fault address:") != std::string::npos, text);
  }
  if (ladd[0] != '\0' || lmod[0] != '\0')
    FUZZ_CHECK(text.find("Address   Frame") != std::string::npos, text);

  CrashLogFields fields;
  std::memcpy(fields.ver, ver.get(), kCrashVersionCap);
  std::memcpy(fields.fadd, fadd.get(), kCrashAddressCap);
  std::memcpy(fields.fmod, fmod.get(), kCrashModuleCap);
  std::memcpy(fields.ladd, ladd.get(), kCrashAddressCap);
  std::memcpy(fields.lmod, lmod.get(), kCrashModuleCap);
  const std::string body = BuildCrashReportBody("uid", fields, text.data(), text.size());
  const std::string head = std::string("uid=uid&fver=ulmet3&ver=") + fields.ver +
                           "&fadd=" + fields.fadd + "&fmod=" + fields.fmod +
                           "&ladd=" + fields.ladd + "&lmod=" + fields.lmod + "&conts=";
  FUZZ_CHECK(body.compare(0, head.size(), head) == 0, body);
  return 0;
}
