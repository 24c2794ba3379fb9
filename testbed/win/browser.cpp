// Browser stand-in, registered as the prefix's handler of http and https
// addresses (HKEY_CLASSES_ROOT\http\shell\open\command = "...browser.exe" "%1").
// Records the address it was asked to open in pages.jsonl, then ends.
#include <windows.h>

#include "tbwin.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  tbw::AppendLog(L"pages.jsonl", tb::JsonRecord()
                                     .Add("url", argc > 1 ? tbw::Utf8(argv[1]) : std::string())
                                     .Add("command_line", tbw::Utf8(GetCommandLineW())));
  return 0;
}
