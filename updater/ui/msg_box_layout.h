// Size and layout arithmetic of the product's message box, apart from the
// drawing so that it can be checked without a window (and natively).
//
// All values are pixels in client coordinates of the borderless box, whose
// client area equals its window.
#pragma once

namespace ul {

struct BoxRect {
  int left;
  int top;
  int right;
  int bottom;
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
};

// Width at which a message wraps, and the smallest box.
constexpr int kBoxTextWrap = 500;
constexpr int kBoxMinWidth = 380;
constexpr int kBoxMinHeight = 135;

struct BoxSize {
  int width;
  int height;
};

// The box's size for a message measured as textWidth x textHeight: 200
// pixels of margins and icon beside the text, 100 for title strip and
// buttons below it, never smaller than 380 x 135.
BoxSize MsgBoxSize(int textWidth, int textHeight);

// Where the message is drawn: from (70, 30), moved down by half of what is
// left over between the title strip and the button row.
BoxRect MsgBoxTextRect(int clientHeight, int textWidth, int textHeight);

// Types 2 (question) and 4 (warning) ask for a choice and show both buttons.
bool MsgBoxHasTwoButtons(int messageType);

struct MsgBoxButtons {
  BoxRect first;   // "확인"
  BoxRect second;  // "취소"; meaningful only when secondShown
  bool secondShown;
  BoxRect close;   // the small close button in the title strip
};

MsgBoxButtons MsgBoxButtonLayout(int messageType, int clientWidth, int clientHeight);

BoxRect MsgBoxIconRect();

// The "don't show again" check box (its own size from the template) and the
// label drawn beside it.
BoxRect MsgBoxCheckRect(int clientHeight, int checkWidth, int checkHeight);
BoxRect MsgBoxCheckLabelRect(int clientHeight, int checkWidth, int checkHeight);

// The help line at the bottom left: icon, then the underlined link text.
BoxRect MsgBoxHelpIconRect(int clientHeight, int iconWidth);
BoxRect MsgBoxHelpLinkRect(int clientHeight, int iconWidth);

// Inside the top 22 pixels the box is dragged like by a caption.
bool MsgBoxIsTitleHit(int clientY);

}  // namespace ul
