// The help link of the message box opens the product home page in the
// user's browser: the prefix's http handler is pointed at a probe that
// records the address it was asked to open.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "file_support.h"
#include "ui/general_msg_dlg.h"
#include "ui/msg_box_layout.h"
#include "ui_box_watch.h"

namespace {

const char kHandlerKey[] = "http\\shell\\open\\command";
const int kOkButton = 1176;

std::string ExeFolder() {
  char path[MAX_PATH] = {0};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string p(path);
  return p.substr(0, p.rfind('\\') + 1);
}

std::string ReadDefault(HKEY root, const char* key) {
  char value[2048] = {0};
  LONG size = sizeof(value);
  if (RegQueryValueA(root, key, value, &size) != ERROR_SUCCESS) return "";
  return value;
}

// Points the prefix's http handler at the probe for the test's lifetime.
class HandlerSwap {
 public:
  explicit HandlerSwap(const std::string& command) : before_(ReadDefault(HKEY_CLASSES_ROOT, kHandlerKey)) {
    RegSetValueA(HKEY_CLASSES_ROOT, kHandlerKey, REG_SZ, command.c_str(), 0);
  }
  ~HandlerSwap() {
    RegSetValueA(HKEY_CLASSES_ROOT, kHandlerKey, REG_SZ, before_.c_str(), 0);
  }

 private:
  std::string before_;
};

std::string WaitForText(const std::string& path, int ms) {
  for (int waited = 0; waited < ms; waited += 50) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    if (!text.str().empty()) return text.str();
    Sleep(50);
  }
  return "";
}

// Shows a box with the help link, clicks (press and release) at the point
// given relative to the link's rectangle, and returns how the box ended. The
// watcher's own answer, the OK button (result 1), comes after the click.
int ClickBox(int dx, int dyFromTop) {
  CGeneralMsgDlg box;
  box.SetMessage(3, "울메를 실행하는 과정에서 오류가 발생하였습니다.", 0);
  box.SetHelpLink(ul::kHelpLinkStartFailed);
  BoxWatch watch(kOkButton, [dx, dyFromTop](HWND hwnd) {
    RECT client;
    GetClientRect(hwnd, &client);
    ul::BoxRect link = ul::MsgBoxHelpLinkRect(client.bottom, 40);
    LPARAM at = MAKELPARAM(link.right + dx, link.top + dyFromTop);
    PostMessageA(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageA(hwnd, WM_LBUTTONUP, 0, at);
  });
  int result = static_cast<int>(box.DoModal());
  watch.Join();
  EXPECT_TRUE(watch.Found());
  return result;
}

class MsgBoxHelpLink : public ::testing::Test {
 protected:
  std::string folder_ = filesupport::FreshFolder("helplink");
  std::string record_ = folder_ + "\\opened.txt";
  HandlerSwap swap_{"\"" + ExeFolder() + "url_probe.exe\" \"" + record_ + "\" \"%1\""};
  void TearDown() override { filesupport::RemoveFolder(folder_); }
};

TEST_F(MsgBoxHelpLink, ClickOpensTheHomePageAndClosesTheBox) {
  const int halfHeight = (ul::MsgBoxHelpLinkRect(100, 40).bottom - ul::MsgBoxHelpLinkRect(100, 40).top) / 2;
  EXPECT_EQ(ClickBox(-20, halfHeight), 2);
  EXPECT_EQ(WaitForText(record_, 10000), std::string(ULMET_HOME_PAGE) + "\n");
}

TEST_F(MsgBoxHelpLink, ClickBesideTheLinkOpensNothing) {
  EXPECT_EQ(ClickBox(-20, -30), 1);  // closed by its OK button, not by the link
  EXPECT_EQ(WaitForText(record_, 1500), "");
}

}  // namespace
