#include "run/box.h"

#include <windows.h>

#include "ui/general_msg_dlg.h"

void ShowMessageBox(int type, const char* text, int helpCode) {
  CGeneralMsgDlg box;
  box.SetMessage(type, text, 0);
  if (helpCode != 0) box.SetHelpLink(helpCode);
  box.DoModal();
}

void ShowStartFailure(unsigned long error) {
  char* text = nullptr;
  FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                     FORMAT_MESSAGE_IGNORE_INSERTS,
                 nullptr, error, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                 reinterpret_cast<char*>(&text), 0, nullptr);
  MessageBoxA(nullptr, text ? text : "", "Patchwell 실행 오류!!", MB_ICONINFORMATION);
  if (text) LocalFree(text);
}
