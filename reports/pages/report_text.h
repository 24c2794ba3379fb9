// Player text made fit to show: the logs and fields arrive in code page 949
// and are kept so; the pages and exports show them as UTF-8, escaped for
// the place they go.
//
// No network and no store here: this reads untrusted bytes, so it builds in
// the fuzz tree too.
#pragma once

#include <string>
#include <string_view>

namespace ulr {

// Code page 949 bytes as UTF-8. A byte sequence that is not code page 949
// becomes U+FFFD, one for each byte skipped. CR LF becomes a line feed; a
// tab and a line feed stay, and every other control character becomes
// U+FFFD, so what is shown is what the player's log holds, and nothing
// more.
std::string DisplayText(std::string_view cp949);

// Text the symbols gave (function and file names from debug information,
// which is operator input and meant as UTF-8) made fit to show the same
// way: each byte that does not belong to a valid UTF-8 character becomes
// U+FFFD, and so does every control character but a tab.
std::string SymbolText(std::string_view utf8);

// Text for HTML content and attribute values: & < > " ' as entities.
std::string HtmlEscape(std::string_view utf8);

// One CSV cell, always quoted. A cell that a spreadsheet would take for a
// formula (= + - @ or a tab or CR first) starts with an apostrophe.
std::string CsvCell(std::string_view utf8);

// A JSON string with its quotes; control characters, '<' and '>' as \u escapes.
std::string JsonString(std::string_view utf8);

}  // namespace ulr
