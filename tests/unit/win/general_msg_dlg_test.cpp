#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "ui/general_msg_dlg.h"
#include "win/ui_box_watch.h"

namespace {

const char kLaunchText[] =
    "잘못된 실행정보로 실행 되었습니다.\n울메 홈페이지에서 다시 실행해 주시기 바랍니다.";

// What the watching thread saw of a live box.
struct Seen {
  int clientW = 0, clientH = 0;
  RECT first = {}, second = {}, close = {}, check = {};
  bool secondVisible = false, checkVisible = false;
  LRESULT hitTitle = 0, hitBelow = 0;
  COLORREF title = 0, iconCentre = 0, firstButton = 0, body = 0;
  int separatorDots = 0, textInk = 0, linkInk = 0;
};

RECT ChildRect(HWND box, int id) {
  RECT r = {};
  HWND child = GetDlgItem(box, id);
  if (child == nullptr) return r;
  GetWindowRect(child, &r);
  MapWindowPoints(nullptr, box, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

bool Bluish(COLORREF c) { return GetBValue(c) > GetRValue(c) + 40; }
bool Dark(COLORREF c) { return GetRValue(c) < 140 && GetGValue(c) < 140 && GetBValue(c) < 140; }

void Look(HWND box, Seen& s) {
  // Paint now (the box's thread does it while this call waits), so the
  // pixels below do not depend on timing.
  RedrawWindow(box, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  RECT c;
  GetClientRect(box, &c);
  s.clientW = c.right;
  s.clientH = c.bottom;
  s.first = ChildRect(box, 1176);
  s.second = ChildRect(box, 1177);
  s.close = ChildRect(box, 1065);
  s.check = ChildRect(box, 1178);
  s.secondVisible = IsWindowVisible(GetDlgItem(box, 1177)) != FALSE;
  s.checkVisible = IsWindowVisible(GetDlgItem(box, 1178)) != FALSE;

  RECT w;
  GetWindowRect(box, &w);
  s.hitTitle = SendMessageW(box, WM_NCHITTEST, 0, MAKELPARAM(w.left + s.clientW / 2, w.top + 5));
  s.hitBelow = SendMessageW(box, WM_NCHITTEST, 0, MAKELPARAM(w.left + s.clientW / 2, w.top + 24));

  HDC dc = GetDC(box);
  s.title = GetPixel(dc, s.clientW / 2, 15);
  s.iconCentre = GetPixel(dc, 14 + 20, 37 + 20);
  s.firstButton = GetPixel(dc, (s.first.left + s.first.right) / 2, s.first.top + 4);
  s.body = GetPixel(dc, s.clientW - 8, 40);
  for (int x = 14; x < s.clientW - 14; ++x) {
    COLORREF p = GetPixel(dc, x, s.clientH - 47);
    if (p != RGB(255, 255, 255)) ++s.separatorDots;
  }
  for (int y = 30; y < s.clientH - 50; ++y) {
    for (int x = 70; x < s.clientW - 20; x += 2) {
      if (Dark(GetPixel(dc, x, y))) ++s.textInk;
    }
  }
  for (int y = s.clientH - 33; y < s.clientH - 19; ++y) {
    for (int x = 87; x < 280; ++x) {
      COLORREF p = GetPixel(dc, x, y);
      if (GetBValue(p) > 120 && GetRValue(p) < 120) ++s.linkInk;
    }
  }
  ReleaseDC(box, dc);
}

// Shows a box, looks at it from another thread and answers it.
INT_PTR ShowAndLook(CGeneralMsgDlg& box, Seen& seen, int answer, std::wstring* text = nullptr) {
  BoxWatch watch(answer, [&](HWND h) { Look(h, seen); });
  INT_PTR result = box.DoModal();
  watch.Join();
  EXPECT_TRUE(watch.Found());
  if (text != nullptr) *text = watch.Text();
  return result;
}

TEST(MsgBoxSize, ShortTextKeepsTheSmallestBox) {
  CGeneralMsgDlg box;
  box.SetMessage(1, "확인", 0);
  EXPECT_GT(box.TextWidth(), 0);
  EXPECT_LT(box.TextWidth(), 180);
  EXPECT_GT(box.TextHeight(), 0);
  EXPECT_LT(box.TextHeight(), 35);
  EXPECT_EQ(box.DialogWidth(), 380);
  EXPECT_EQ(box.DialogHeight(), 135);
}

TEST(MsgBoxSize, LongTextWrapsAt500PixelsAndGrowsTheBox) {
  std::string words;
  for (int i = 0; i < 40; ++i) words += "업데이트 파일을 ";
  CGeneralMsgDlg one;
  one.SetMessage(3, "업데이트 파일을", 0);
  const int lineHeight = one.TextHeight();

  CGeneralMsgDlg box;
  box.SetMessage(3, words.c_str(), 0);
  EXPECT_LE(box.TextWidth(), 500);
  EXPECT_GT(box.TextWidth(), 400);
  EXPECT_GE(box.TextHeight(), 5 * lineHeight);  // wrapped, not cut
  EXPECT_EQ(box.DialogWidth(), box.TextWidth() + 200);
  EXPECT_EQ(box.DialogHeight(), box.TextHeight() + 100);
}

TEST(MsgBoxSize, SingleWordWiderThanTheWrapIsNeverCut) {
  // Edit-control rules may break an over-long word (Wine's DrawText does) or
  // let it widen the text; either way the box holds all of it.
  std::string word(150, 'W');
  CGeneralMsgDlg one;
  one.SetMessage(3, "W", 0);
  CGeneralMsgDlg box;
  box.SetMessage(3, word.c_str(), 0);
  if (box.TextWidth() > 500) {
    EXPECT_EQ(box.TextHeight(), one.TextHeight());
  } else {
    EXPECT_GE(box.TextWidth(), 480);
    EXPECT_GE(box.TextHeight(), 2 * one.TextHeight());
  }
  EXPECT_EQ(box.DialogWidth(), box.TextWidth() + 200);
  EXPECT_EQ(box.DialogHeight(), box.TextHeight() + 100 > 135 ? box.TextHeight() + 100 : 135);
}

TEST(MsgBoxSize, LineFeedsMakeLinesAndAmpersandsStayText) {
  CGeneralMsgDlg one, two, amp;
  one.SetMessage(3, "잘못된 실행정보로 실행 되었습니다.", 0);
  two.SetMessage(3, kLaunchText, 0);
  EXPECT_EQ(two.TextHeight(), 2 * one.TextHeight());
  // A file name may hold '&': it is shown, not taken as a mnemonic mark.
  CGeneralMsgDlg x;
  amp.SetMessage(3, "&x", 0);
  x.SetMessage(3, "x", 0);
  EXPECT_GT(amp.TextWidth(), x.TextWidth());
}

TEST(MsgBoxTypes, CaptionIconAndExcludedRegionsPerType) {
  struct {
    int type;
    const char* caption;
    int excluded;
  } cases[] = {{0, "정보", 2}, {1, "정보", 2}, {2, "확인", 3}, {3, "오류", 2}, {4, "경고", 3}};
  for (const auto& c : cases) {
    CGeneralMsgDlg box;
    box.SetMessage(c.type, "text", 0);
    EXPECT_EQ(box.Caption(), c.caption) << c.type;
    EXPECT_EQ(box.ExcludedRegionCount(), c.excluded) << c.type;
  }
  CGeneralMsgDlg other;
  other.SetMessage(7, "text", 0);
  EXPECT_EQ(other.Caption(), "");
  EXPECT_EQ(other.ExcludedRegionCount(), 3);
}

TEST(MsgBoxLive, ErrorBoxLayoutPaintingAndWindowText) {
  CGeneralMsgDlg box;
  box.SetMessage(ul::kBoxError, kLaunchText, 0);
  Seen s;
  std::wstring text;
  EXPECT_EQ(ShowAndLook(box, s, 1176, &text), 1);
  EXPECT_EQ(text,
            L"오류\n잘못된 실행정보로 실행 되었습니다.\n"
            L"울메 홈페이지에서 다시 실행해 주시기 바랍니다.");

  const int W = box.DialogWidth(), H = box.DialogHeight();
  EXPECT_EQ(s.clientW, W);
  EXPECT_EQ(s.clientH, H);
  EXPECT_EQ(s.first.left, W - 94);
  EXPECT_EQ(s.first.top, H - 36);
  EXPECT_EQ(s.first.right - s.first.left, 80);
  EXPECT_EQ(s.first.bottom - s.first.top, 22);
  EXPECT_FALSE(s.secondVisible);
  EXPECT_EQ(s.close.left, W - 17);
  EXPECT_EQ(s.close.top, 10);
  EXPECT_EQ(s.close.right - s.close.left, 9);
  EXPECT_EQ(s.close.bottom - s.close.top, 10);
  EXPECT_FALSE(s.checkVisible);

  // The text is centred between title strip and buttons.
  const int spare = H - 85 - box.TextHeight();
  EXPECT_EQ(box.TextRect().left, 70);
  EXPECT_EQ(box.TextRect().top, 30 + (spare > 0 ? spare / 2 : 0));

  EXPECT_EQ(s.hitTitle, HTCAPTION);
  EXPECT_EQ(s.hitBelow, HTCLIENT);

  EXPECT_TRUE(Bluish(s.title)) << std::hex << s.title;
  EXPECT_GT(GetRValue(s.iconCentre), 200) << std::hex << s.iconCentre;  // white cross on red
  EXPECT_TRUE(Bluish(s.firstButton)) << std::hex << s.firstButton;      // "확인" bitmap
  EXPECT_EQ(s.body, RGB(255, 255, 255));
  EXPECT_GT(s.separatorDots, 20);
  EXPECT_GT(s.textInk, 100);
  EXPECT_EQ(s.linkInk, 0);  // no help line without a code
}

TEST(MsgBoxLive, TwoButtonTypesPlaceConfirmLeftOfCancel) {
  for (int type : {2, 4}) {
    CGeneralMsgDlg box;
    box.SetMessage(type, "계속 하시겠습니까?", 0);
    Seen s;
    EXPECT_EQ(ShowAndLook(box, s, 1177), 2) << type;
    const int W = box.DialogWidth(), H = box.DialogHeight();
    EXPECT_TRUE(s.secondVisible) << type;
    EXPECT_EQ(s.first.left, W - 179) << type;
    EXPECT_EQ(s.second.left, W - 94) << type;
    EXPECT_EQ(s.first.top, H - 36) << type;
    EXPECT_EQ(s.second.top, H - 36) << type;
  }
}

TEST(MsgBoxLive, CloseButtonEscapeAndCloseAllAnswerTwo) {
  for (int answer : {1065, -1, 0}) {
    CGeneralMsgDlg box;
    box.SetMessage(1, "울메 설치를 시작합니다.(#1)", 0);
    Seen s;
    EXPECT_EQ(ShowAndLook(box, s, answer), 2) << answer;
  }
}

TEST(MsgBoxLive, CheckBoxShowsWithFlagOneAndIsReadBack) {
  CGeneralMsgDlg box;
  box.SetMessage(1, "울메 설치를 시작합니다.(#1)", 1);
  Seen s;
  BoxWatch watch(1176, [&](HWND h) {
    Look(h, s);
    SendMessageW(GetDlgItem(h, 1178), BM_SETCHECK, BST_CHECKED, 0);
    SendMessageW(h, WM_COMMAND, MAKEWPARAM(1178, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(h, 1178)));
  });
  EXPECT_EQ(box.DoModal(), 1);
  watch.Join();
  EXPECT_TRUE(s.checkVisible);
  const int checkH = s.check.bottom - s.check.top;
  EXPECT_GT(checkH, 0);
  EXPECT_EQ(s.check.left, 14);
  EXPECT_EQ(s.check.top, box.DialogHeight() - checkH - 14);
  EXPECT_EQ(box.dontShowAgain, 1);
}

TEST(MsgBoxLive, HelpLinkIsPaintedForAPositiveCode) {
  CGeneralMsgDlg box;
  box.SetMessage(ul::kBoxError, kLaunchText, 0);
  box.SetHelpLink(ul::kHelpLinkStartFailed);
  EXPECT_EQ(box.HelpLinkCode(), 4);
  Seen s;
  EXPECT_EQ(ShowAndLook(box, s, 1176), 1);
  EXPECT_GT(s.linkInk, 30);
}

}  // namespace
