#include <windows.h>

#include "framework/framework.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) { return AfxRunApp(instance); }
