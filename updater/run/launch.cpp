// Start of the next program and the updater's self-replacement.
#include "run/main_dlg.h"

bool CULPatchwellDlg::LaunchProgram() {
  CloseRequest();
  return true;
}
