// Shows one message box of the product's kind and waits until it is closed.
#pragma once

// type 1 information ("정보"), 3 error ("오류"); helpCode 0 shows no help link.
void ShowMessageBox(int type, const char* text, int helpCode = 0);
