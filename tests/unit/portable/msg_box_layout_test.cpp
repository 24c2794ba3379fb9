#include <gtest/gtest.h>

#include "ui/msg_box_layout.h"

namespace {

using ul::BoxRect;

TEST(MsgBoxLayout, SizeGrowsWithTheTextBeyondTheSmallestBox) {
  struct {
    int tw, th, w, h;
  } cases[] = {
      {30, 20, 380, 135},  {0, 0, 380, 135},    {180, 35, 380, 135}, {181, 36, 381, 136},
      {400, 20, 600, 135}, {500, 90, 700, 190}, {640, 12, 840, 135},
  };
  for (const auto& c : cases) {
    ul::BoxSize s = ul::MsgBoxSize(c.tw, c.th);
    EXPECT_EQ(s.width, c.w) << c.tw << "x" << c.th;
    EXPECT_EQ(s.height, c.h) << c.tw << "x" << c.th;
  }
}

TEST(MsgBoxLayout, TextIsCentredInWhatIsLeftBetweenTitleAndButtons) {
  struct {
    const char* what;
    int clientHeight, textWidth, textHeight;
    int top;
  } cases[] = {
      {"20 high in the smallest box: spare 30", 135, 200, 20, 45},
      {"35 high: spare 15, half of it truncated", 135, 100, 35, 37},
      {"a box sized to its text leaves 15 spare", ul::MsgBoxSize(300, 90).height, 300, 90, 37},
      {"no spare", 135, 10, 50, 30},
      {"less than none", 100, 10, 50, 30},
      {"spare 1, half of it 0", 136, 10, 50, 30},
  };
  for (const auto& c : cases) {
    BoxRect r = ul::MsgBoxTextRect(c.clientHeight, c.textWidth, c.textHeight);
    EXPECT_EQ(r.top, c.top) << c.what;
    EXPECT_EQ(r.bottom, c.top + c.textHeight) << c.what;
    EXPECT_EQ(r.left, 70) << c.what;
    EXPECT_EQ(r.right, 70 + c.textWidth) << c.what;
  }
}

TEST(MsgBoxLayout, ButtonsPerType) {
  for (int type : {0, 1, 3, 7, -1}) {
    ul::MsgBoxButtons b = ul::MsgBoxButtonLayout(type, 380, 135);
    EXPECT_FALSE(b.secondShown) << type;
    EXPECT_EQ(b.first.left, 286) << type;
    EXPECT_EQ(b.first.top, 99) << type;
    EXPECT_EQ(b.first.Width(), 80);
    EXPECT_EQ(b.first.Height(), 22);
  }
  for (int type : {2, 4}) {
    ul::MsgBoxButtons b = ul::MsgBoxButtonLayout(type, 600, 190);
    EXPECT_TRUE(b.secondShown) << type;
    EXPECT_EQ(b.first.left, 421) << type;
    EXPECT_EQ(b.second.left, 506) << type;
    EXPECT_EQ(b.first.top, 154);
    EXPECT_EQ(b.second.top, 154);
    EXPECT_LT(b.first.right, b.second.left);  // "확인" left of "취소", apart
  }
  ul::MsgBoxButtons b = ul::MsgBoxButtonLayout(1, 380, 135);
  EXPECT_EQ(b.close.left, 363);
  EXPECT_EQ(b.close.top, 10);
  EXPECT_EQ(b.close.Width(), 9);
  EXPECT_EQ(b.close.Height(), 10);
}

TEST(MsgBoxLayout, CheckBoxHelpLineAndTitleHit) {
  BoxRect check = ul::MsgBoxCheckRect(135, 13, 13);
  EXPECT_EQ(check.left, 14);
  EXPECT_EQ(check.top, 108);
  BoxRect label = ul::MsgBoxCheckLabelRect(135, 13, 13);
  EXPECT_EQ(label.left, 32);
  EXPECT_EQ(label.top, 108);
  EXPECT_EQ(label.Width(), 230);
  EXPECT_EQ(label.Height(), 14);

  BoxRect icon = ul::MsgBoxHelpIconRect(135, 12);
  BoxRect link = ul::MsgBoxHelpLinkRect(135, 12);
  EXPECT_EQ(icon.left, 70);
  EXPECT_EQ(icon.right, 82);
  EXPECT_EQ(icon.top, 102);
  EXPECT_EQ(icon.bottom, 116);
  EXPECT_EQ(link.left, 87);
  EXPECT_EQ(link.right, 300);
  EXPECT_EQ(link.top, 102);
  // The help line sits under the separator (H - 47).
  EXPECT_GT(link.top, 135 - 47);

  EXPECT_TRUE(ul::MsgBoxIsTitleHit(0));
  EXPECT_TRUE(ul::MsgBoxIsTitleHit(21));
  EXPECT_FALSE(ul::MsgBoxIsTitleHit(22));
  EXPECT_FALSE(ul::MsgBoxIsTitleHit(-1));
}

}  // namespace
