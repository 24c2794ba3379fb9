#include "ui/home_page.h"

#include <windows.h>
#include <shellapi.h>

// A build without the address would send users nowhere; it must not exist.
#ifndef ULMET_HOME_PAGE
#error "ULMET_HOME_PAGE must be set by the build"
#endif

void OpenHomePage() { ShellExecuteA(nullptr, "open", ULMET_HOME_PAGE, nullptr, nullptr, SW_SHOW); }
