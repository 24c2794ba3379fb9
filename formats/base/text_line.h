// Line reading shared by the readers of the server's text files and of the
// client's crash logs.
//
// The files are read with a 1024-byte line buffer: at most 1023 characters
// per read, so a longer line arrives in pieces and every piece counts as a
// line of its own. A line feed ends a line together with every CR right
// before it (CR LF, and the CR CR LF of a file converted twice), and a
// Ctrl-Z (0x1A) ends the file; other CRs are text. The Windows build opens
// the files in text mode, whose runtime has already turned each CR LF into
// a line feed and stops at a Ctrl-Z; natively the mode changes nothing.
// Either way the same bytes give the same lines, whatever mode the FILE was
// opened in. (A run of CRs that is text and does not fit in what is left of
// the line buffer keeps only as many CRs as fit.)
//
// No Windows headers here: this builds natively for the sanitizer runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace ul {

constexpr std::size_t kLineCap = 1024;  // line buffer: 1023 characters + terminator
constexpr int kEndOfText = 0x1A;        // Ctrl-Z: a text-mode file ends there

// Reads one line (or the next piece of a long one) into buf, keeping its
// line feed, always terminated. At most cap-1 characters are stored. False
// at the end of the file when nothing was read.
bool ReadTextLine(std::FILE* file, char* buf, std::size_t cap);

template <std::size_t N>
bool ReadTextLine(std::FILE* file, char (&buf)[N]) {
  return ReadTextLine(file, buf, N);
}

// The line at *at of a buffer whose last byte is a line feed, without its
// line feed, into *line; *at moves past it. False once *at reaches size.
// The server's list files are read this way, a line at a time.
bool NextBufferLine(const char* data, std::size_t size, std::size_t* at, std::string* line);

// Removes one trailing line feed, nothing else.
void StripNewline(char* line);

// Decimal value read the way atoi reads it: leading white space and a sign
// are accepted, reading stops at the first non-digit, no digits give 0. Out
// of range values are clamped instead of overflowing.
int32_t ParseDecimal(const char* text);

// A decimal number of at most 20 digits that fits 64 bits, and nothing
// else (no sign, no white space): the numbers of the files this system
// writes for itself.
bool ParseWholeNumber(const char* text, uint64_t* out);

}  // namespace ul
