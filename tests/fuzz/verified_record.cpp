// The verified-state record's reader over any bytes, for a client folder
// and a moment chosen by the first bytes. Besides memory safety: a record
// it takes is written back to a text it takes again with the same entries,
// and a record it refuses keeps nothing to vouch with.
#include "formats/trust/verified_record.h"

#include <cstring>
#include <string>

#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 9) return 0;
  uint64_t now = 0;
  std::memcpy(&now, data, 8);
  const int days = 1 + data[8] % 30;
  const std::string text(reinterpret_cast<const char*>(data + 9), size - 9);
  const std::string folder = "C:\\Ulmet\\";
  ul::VerifiedRecord record(folder, days);
  const ul::VerifiedRecord::Refusal refusal = record.Adopt(text, now);
  ul::FileFacts facts;
  if (refusal != ul::VerifiedRecord::Refusal::kNone) {
    FUZZ_CHECK(record.Size() == 0, fuzz::Shown(text));
    FUZZ_CHECK(record.Check("C:\\Ulmet\\a", "0123456789abcdef0123456789abcdef", facts) == ul::Verdict::kNoRecord,
               fuzz::Shown(text));
    return 0;
  }
  FUZZ_CHECK(!record.Changed(), fuzz::Shown(text));
  const std::string again = record.Text(now);
  ul::VerifiedRecord second(folder, days);
  FUZZ_CHECK(second.Adopt(again, now) == ul::VerifiedRecord::Refusal::kNone, fuzz::Shown(again));
  FUZZ_CHECK(second.Size() == record.Size(), fuzz::Shown(again));
  FUZZ_CHECK(second.Text(now) == again, fuzz::Shown(again));
  return 0;
}
