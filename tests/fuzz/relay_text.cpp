// The relay's text handling against models written here. The command words
// are checked against the whole message, not only its cut copy: a message
// counts as a content request (or a start request) only when the whole
// message's first token is "CONTENTS" (and its second "START"), and a
// request whose words lie whole inside the copied part is always seen.
#include "relay_text.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"

namespace {

// Code page 949: bytes 0x81 to 0xFE open a two-byte character.
bool IsLead949(unsigned char c) { return c >= 0x81 && c <= 0xFE; }

struct Token {
  std::string text;
  std::size_t end;  // offset just past the token in the message
};

// The form-feed separated tokens of text, runs of separators as one.
std::vector<Token> Tokens(const std::string& text) {
  std::vector<Token> tokens;
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] == bvx::kTokenSeparator) {
      ++i;
      continue;
    }
    const std::size_t start = i;
    while (i < text.size() && text[i] != bvx::kTokenSeparator) ++i;
    tokens.push_back({text.substr(start, i - start), i});
  }
  return tokens;
}

// Offsets where a character starts, reading two-byte characters whole (a
// lead byte at the end stands alone).
std::vector<bool> CharStarts(const std::string& text, bool twoByte) {
  std::vector<bool> starts(text.size(), false);
  for (std::size_t i = 0; i < text.size();) {
    starts[i] = true;
    i += twoByte && IsLead949(static_cast<unsigned char>(text[i])) && i + 1 < text.size() ? 2 : 1;
  }
  return starts;
}

bool ContainsModel(const std::string& text, const std::string& needle, bool twoByte) {
  if (needle.empty()) return true;
  const std::vector<bool> starts = CharStarts(text, twoByte);
  for (std::size_t i = 0; i + needle.size() <= text.size(); ++i) {
    if (starts[i] && text.compare(i, needle.size(), needle) == 0) return true;
  }
  return false;
}

void CheckTokens(const std::string& message) {
  bvx::MessageTokens tokens;
  bvx::SplitMessageTokens(message.c_str(), &tokens);
  const std::size_t kept = bvx::kTokenBufferCap - 1;
  const std::vector<Token> cut = Tokens(message.substr(0, kept));
  FUZZ_CHECK((tokens.first != nullptr) == (cut.size() >= 1), message);
  FUZZ_CHECK((tokens.second != nullptr) == (cut.size() >= 2), message);
  if (tokens.first) FUZZ_CHECK(cut[0].text == tokens.first, message);
  if (tokens.second) FUZZ_CHECK(cut[1].text == tokens.second, message);

  const std::vector<Token> whole = Tokens(message);
  const bool wholeContent = !whole.empty() && whole[0].text == "CONTENTS";
  const bool wholeStart = wholeContent && whole.size() >= 2 && whole[1].text == "START";
  const bool content = bvx::IsContentRequest(tokens);
  const bool start = bvx::IsStartRequest(tokens);
  FUZZ_CHECK(!content || wholeContent, message);
  FUZZ_CHECK(!start || wholeStart, message);
  if (wholeContent && whole[0].end <= kept) FUZZ_CHECK(content, message);
  if (wholeStart && whole[1].end <= kept) FUZZ_CHECK(start, message);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const bool twoByte = in.ConsumeBool();
  const std::size_t cap = in.ConsumeIntegralInRange<std::size_t>(1, 40);
  std::string needle = in.ConsumeRandomLengthString(12);
  needle = needle.substr(0, needle.find('\0'));
  std::string text = in.ConsumeRemainingBytesAsString();
  text.resize(std::strlen(text.c_str()));
  const bvx::LeadBytePredicate isLead = twoByte ? &IsLead949 : nullptr;

  CheckTokens(text);

  FUZZ_CHECK(bvx::ContainsText(text.c_str(), needle.c_str(), isLead) ==
                 ContainsModel(text, needle, twoByte),
             text + " / " + needle);
  FUZZ_CHECK(bvx::NamesVista(text.c_str(), isLead) == ContainsModel(text, "VISTA", twoByte), text);
  const char* title = bvx::WindowTitleToFind(text.c_str(), isLead);
  if (ContainsModel(text, bvx::kClientTitleMarker, twoByte)) {
    FUZZ_CHECK(std::strcmp(title, bvx::kClientWindowTitle) == 0, text);
  } else {
    FUZZ_CHECK(title == text.c_str(), text);
  }

  // Upper case: only single-byte a-z change, both bytes of a character stay.
  std::string upper = text;
  bvx::UpperAscii(&upper[0], isLead);
  const std::vector<bool> starts = CharStarts(text, twoByte);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool single = starts[i] && (i + 1 == text.size() || starts[i + 1]);
    const char c = text[i];
    const char want = single && c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
    FUZZ_CHECK(upper[i] == want, text);
  }

  std::vector<char> copy(cap, 'x');
  const std::size_t n = bvx::CopyBounded(copy.data(), cap, text.c_str());
  FUZZ_CHECK(n == std::min(text.size(), cap - 1) && std::string(copy.data()) == text.substr(0, n),
             text);
  return 0;
}
