#include "relay_text.h"

#include <cstring>
#include <initializer_list>

namespace bvx {

std::size_t CopyBounded(char* dst, std::size_t cap, const char* src) {
  if (cap == 0) return 0;
  std::size_t n = 0;
  if (src) {
    while (n + 1 < cap && src[n] != '\0') {
      dst[n] = src[n];
      ++n;
    }
  }
  dst[n] = '\0';
  return n;
}

namespace {

// Splits off the next token at *cursor the way the C runtime's strtok does:
// leading separators are skipped, the token's end is overwritten with a
// terminator. Returns null when only separators are left.
char* NextToken(char** cursor) {
  char* p = *cursor;
  while (*p == kTokenSeparator) ++p;
  if (*p == '\0') {
    *cursor = p;
    return nullptr;
  }
  char* token = p;
  while (*p != '\0' && *p != kTokenSeparator) ++p;
  if (*p != '\0') *p++ = '\0';
  *cursor = p;
  return token;
}

}  // namespace

void SplitMessageTokens(const char* text, MessageTokens* out) {
  const std::size_t len = CopyBounded(out->buffer, sizeof out->buffer, text);
  // The text went on past the buffer, and not with a separator: whatever
  // token reaches the buffer's end is only the start of a longer one.
  const bool cutInsideToken = text && text[len] != '\0' && text[len] != kTokenSeparator;
  char* cursor = out->buffer;
  out->first = NextToken(&cursor);
  out->second = out->first ? NextToken(&cursor) : nullptr;
  out->cutToken = nullptr;
  if (cutInsideToken) {
    const char* end = out->buffer + len;
    for (const char* token : {out->first, out->second}) {
      if (token && token + std::strlen(token) == end) out->cutToken = token;
    }
  }
}

bool IsContentRequest(const MessageTokens& tokens) {
  return tokens.first && tokens.first != tokens.cutToken && std::strcmp(tokens.first, "CONTENTS") == 0;
}

bool IsStartRequest(const MessageTokens& tokens) {
  return IsContentRequest(tokens) && tokens.second && tokens.second != tokens.cutToken &&
         std::strcmp(tokens.second, "START") == 0;
}

bool ContainsText(const char* text, const char* needle, LeadBytePredicate isLead) {
  if (!text || !needle) return false;
  const std::size_t n = std::strlen(needle);
  for (const char* p = text; *p != '\0';) {
    if (std::strncmp(p, needle, n) == 0) return true;
    if (isLead && isLead(static_cast<unsigned char>(*p)) && p[1] != '\0') {
      p += 2;
    } else {
      p += 1;
    }
  }
  return n == 0;
}

void UpperAscii(char* text, LeadBytePredicate isLead) {
  for (char* p = text; *p != '\0';) {
    if (isLead && isLead(static_cast<unsigned char>(*p)) && p[1] != '\0') {
      p += 2;
      continue;
    }
    if (*p >= 'a' && *p <= 'z') *p = static_cast<char>(*p - 'a' + 'A');
    ++p;
  }
}

const char* WindowTitleToFind(const char* title, LeadBytePredicate isLead) {
  return ContainsText(title, kClientTitleMarker, isLead) ? kClientWindowTitle : title;
}

bool NamesVista(const char* upperProductName, LeadBytePredicate isLead) {
  return ContainsText(upperProductName, "VISTA", isLead);
}

}  // namespace bvx
