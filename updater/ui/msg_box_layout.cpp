#include "ui/msg_box_layout.h"

namespace ul {

namespace {
constexpr int kTextLeft = 70;
constexpr int kTextTop = 30;
// Title strip (30) + button row and separator (55) around the text.
constexpr int kTextChrome = 85;
constexpr int kButtonWidth = 80;
constexpr int kButtonHeight = 22;
constexpr int kTitleHitHeight = 22;

BoxRect At(int x, int y, int w, int h) { return BoxRect{x, y, x + w, y + h}; }
}  // namespace

BoxSize MsgBoxSize(int textWidth, int textHeight) {
  BoxSize s{textWidth + 200, textHeight + 100};
  if (s.width < kBoxMinWidth) s.width = kBoxMinWidth;
  if (s.height < kBoxMinHeight) s.height = kBoxMinHeight;
  return s;
}

BoxRect MsgBoxTextRect(int clientHeight, int textWidth, int textHeight) {
  BoxRect r{kTextLeft, kTextTop, kTextLeft + textWidth, kTextTop + textHeight};
  int spare = clientHeight - kTextChrome - textHeight;
  if (spare > 0) {
    r.top += spare / 2;
    r.bottom += spare / 2;
  }
  return r;
}

bool MsgBoxHasTwoButtons(int messageType) { return messageType == 2 || messageType == 4; }

MsgBoxButtons MsgBoxButtonLayout(int messageType, int clientWidth, int clientHeight) {
  MsgBoxButtons b;
  const int y = clientHeight - 36;
  b.close = At(clientWidth - 17, 10, 9, 10);
  if (MsgBoxHasTwoButtons(messageType)) {
    b.second = At(clientWidth - 94, y, kButtonWidth, kButtonHeight);
    b.first = At(clientWidth - 179, y, kButtonWidth, kButtonHeight);
    b.secondShown = true;
  } else {
    b.first = At(clientWidth - 94, y, kButtonWidth, kButtonHeight);
    b.second = b.first;
    b.secondShown = false;
  }
  return b;
}

BoxRect MsgBoxIconRect() { return At(14, 37, 40, 40); }

BoxRect MsgBoxCheckRect(int clientHeight, int checkWidth, int checkHeight) {
  return At(14, clientHeight - checkHeight - 14, checkWidth, checkHeight);
}

BoxRect MsgBoxCheckLabelRect(int clientHeight, int checkWidth, int checkHeight) {
  int left = 14 + checkWidth + 5;
  int top = clientHeight - checkHeight - 14;
  return BoxRect{left, top, left + 230, top + 14};
}

BoxRect MsgBoxHelpIconRect(int clientHeight, int iconWidth) {
  return BoxRect{70, clientHeight - 33, 70 + iconWidth, clientHeight - 19};
}

BoxRect MsgBoxHelpLinkRect(int clientHeight, int iconWidth) {
  return BoxRect{70 + iconWidth + 5, clientHeight - 33, 300, clientHeight - 19};
}

bool MsgBoxIsTitleHit(int clientY) { return clientY >= 0 && clientY < kTitleHitHeight; }

}  // namespace ul
