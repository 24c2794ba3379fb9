// Text handling of the page relay that needs no Windows API: the bounded
// token split of a forwarded message, the window-title adjustment and the
// product-name test. All texts are ANSI in a double-byte code page; a
// caller-supplied predicate tells which bytes open a two-byte character so
// that a search never matches in the middle of one.
#pragma once

#include <cstddef>

namespace bvx {

// Size of the buffer that a message is copied into before its tokens are
// split off (1024 characters and the terminator).
constexpr std::size_t kTokenBufferCap = 1025;

// The form feed separates the tokens of a forwarded message.
constexpr char kTokenSeparator = '\f';

using LeadBytePredicate = bool (*)(unsigned char);

// Copies src into dst (capacity cap >= 1), cut to cap - 1 bytes and always
// terminated. A null src gives an empty text. Returns the copied length.
std::size_t CopyBounded(char* dst, std::size_t cap, const char* src);

// The first two tokens of a message. The message is copied into a fixed
// buffer of kTokenBufferCap bytes (a longer message is cut there) and split
// at form feeds; runs of form feeds count as one separator, and leading form
// feeds are skipped. first/second are null when the token is missing.
//
// A run of form feeds can carry a token right up to the cut, so the cut may
// shorten "CONTENTSX" to "CONTENTS" or "STARTX" to "START". cutToken points
// to the token that the cut shortened (null when nothing was cut, or when the
// cut fell on a separator); such a token is never read as a command word.
struct MessageTokens {
  char buffer[kTokenBufferCap];
  const char* first;
  const char* second;
  const char* cutToken;
};
void SplitMessageTokens(const char* text, MessageTokens* out);

// True when the message's first token asks for content ("CONTENTS"), and
// whether the request also asks the user to start the client ("START").
bool IsContentRequest(const MessageTokens& tokens);
bool IsStartRequest(const MessageTokens& tokens);

// True when needle occurs in text at a character boundary (never starting on
// the second byte of a two-byte character). isLead may be null for a
// single-byte code page.
bool ContainsText(const char* text, const char* needle, LeadBytePredicate isLead);

// Turns the ASCII letters a to z into upper case in place, leaving both bytes
// of every two-byte character as they are.
void UpperAscii(char* text, LeadBytePredicate isLead);

// The title of the client's main window, and the marker that pages put into
// the title they pass: a title that holds the marker is replaced by the
// window's real title.
constexpr const char* kClientWindowTitle = "Ulmet";
constexpr const char* kClientTitleMarker = "Ulmet3.0";

// The title to search for: kClientWindowTitle when title holds
// kClientTitleMarker anywhere, otherwise title itself.
const char* WindowTitleToFind(const char* title, LeadBytePredicate isLead);

// True when the product name (already upper-cased) names Vista.
bool NamesVista(const char* upperProductName, LeadBytePredicate isLead);

}  // namespace bvx
