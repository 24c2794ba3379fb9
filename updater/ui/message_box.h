// Shows one message box of the product's kind and waits until it is closed.
#pragma once

// type: ul::kBoxInformation, ul::kBoxError...; helpCode: 0 (no help link) or
// ul::kHelpLink... (general_msg_dlg.h).
void ShowMessageBox(int type, const char* text, int helpCode = 0);
