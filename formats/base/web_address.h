// The check on page addresses that come from the server before they go to
// the shell. The shell opens whatever it is given (a local program, a
// document, a share), so only a web address may pass.
//
// No Windows headers here: this builds natively for the sanitizer runs.
#pragma once

namespace ul {

// True when text is an "http://" or "https://" address (the scheme in any
// letter case) with something after the scheme, and holds no blank, no
// double quote and no control character: the shell puts the address into
// the browser's command line in quotes, so any of those could end the
// quoting and add arguments of the server's choosing.
bool IsWebAddress(const char* text);

}  // namespace ul
