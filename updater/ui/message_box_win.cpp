#include "ui/message_box.h"

#include <windows.h>

#include "ui/general_msg_dlg.h"

void ShowMessageBox(int type, const char* text, int helpCode) {
  CGeneralMsgDlg box;
  box.SetMessage(type, text, 0);
  if (helpCode != 0) box.SetHelpLink(helpCode);
  box.DoModal();
}
