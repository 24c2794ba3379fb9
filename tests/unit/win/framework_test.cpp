#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include "framework/framework.h"
#include "resource.h"

namespace {

// The progress dialog's template carries WS_VISIBLE. A run that decides
// everything inside the initialisation ends the dialog there; it must then
// never come on screen, not even for a moment, and the result must be the
// one it ended with.
class EndsInInit : public CDialog {
 public:
  EndsInInit(bool hideFirst, bool endInInit)
      : CDialog(IDD_ULPATCHWELL_DIALOG), hideFirst_(hideFirst), endInInit_(endInInit) {}
  bool everVisible = false;

 protected:
  BOOL OnInitDialog() override {
    if (hideFirst_) ShowWindow(m_hWnd, SW_HIDE);
    if (endInInit_) {
      EndDialog(7);
    } else {
      SetTimer(m_hWnd, 1, 50, nullptr);
    }
    return TRUE;
  }
  bool OnMessage(UINT msg, WPARAM, LPARAM, INT_PTR&) override {
    if (m_hWnd != nullptr && IsWindowVisible(m_hWnd)) everVisible = true;
    if (msg == WM_TIMER) {
      KillTimer(m_hWnd, 1);
      EndDialog(9);
      return true;
    }
    return false;
  }

 private:
  bool hideFirst_;
  bool endInInit_;
};

TEST(FrameworkDialog, EndedDuringInitialisationNeverComesOnScreen) {
  INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&icc);
  for (bool hideFirst : {false, true}) {
    EndsInInit dlg(hideFirst, true);
    EXPECT_EQ(dlg.DoModal(), 7);
    EXPECT_FALSE(dlg.everVisible) << "hidden first: " << hideFirst;
  }
  // The same template ended later is shown as usual, and hidden again when
  // it ends: the check above is not blind.
  EndsInInit later(false, false);
  EXPECT_EQ(later.DoModal(), 9);
  EXPECT_TRUE(later.everVisible);
}

}  // namespace
