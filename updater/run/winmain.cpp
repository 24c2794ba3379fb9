#include <windows.h>

#include "framework/framework.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  int result = AfxRunApp(instance);
  // A worker may still be inside a download when the dialog ends (the user
  // closed it). Ending the process here stops that thread before anything it
  // uses (the configuration, the dialog's update list, the status text) is
  // destroyed by the static destructors.
  ExitProcess(static_cast<UINT>(result));
}
