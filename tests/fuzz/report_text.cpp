// Player text made fit to show: whatever the bytes, the shown text is
// valid UTF-8 without control characters but tab and line feed, and each
// escape leaves nothing that could end its quoting or make an element.
#include "pages/report_text.h"

#include <string>

#include "fuzz_support.h"
#include "receive/report_form.h"

namespace {

bool ValidUtf8(const std::string& s) {
  for (std::size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    std::size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    for (std::size_t k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(s[i + k]) >> 6) != 2) return false;
    i += n;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::string shown = ulr::DisplayText(bytes);
  FUZZ_CHECK(ValidUtf8(shown), fuzz::Shown(bytes));
  for (unsigned char c : shown) FUZZ_CHECK(c >= 0x20 ? c != 0x7F : c == '\t' || c == '\n', fuzz::Shown(bytes));

  const std::string html = ulr::HtmlEscape(shown);
  FUZZ_CHECK(html.find_first_of("<>\"'") == std::string::npos, fuzz::Shown(bytes));
  const std::string json = ulr::JsonString(shown);
  FUZZ_CHECK(json.size() >= 2 && json.front() == '"' && json.back() == '"', fuzz::Shown(bytes));
  for (std::size_t i = 1; i + 1 < json.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(json[i]);
    FUZZ_CHECK(c >= 0x20 && c != '<' && c != '>', fuzz::Shown(bytes));
    if (c == '\\') ++i;
    else FUZZ_CHECK(c != '"', fuzz::Shown(bytes));
  }
  const std::string csv = ulr::CsvCell(shown);
  std::size_t quotes = 0;
  for (char c : csv) quotes += c == '"';
  FUZZ_CHECK(quotes % 2 == 0 && csv.front() == '"' && csv.back() == '"', fuzz::Shown(bytes));

  std::string crLf;
  for (char c : bytes) {
    if (c == '\n') crLf += '\r';
    crLf += c;
  }
  FUZZ_CHECK(ulr::RestoreLog(crLf) == bytes, fuzz::Shown(bytes));
  return 0;
}
