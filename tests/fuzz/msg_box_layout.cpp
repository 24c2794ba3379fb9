// The message box's size and layout arithmetic over measured text sizes and
// template sizes. The text extent comes from measuring a message that wraps
// at 500 pixels, so it is never negative; 2^24 pixels is far beyond any
// message and still leaves the arithmetic room. Properties: the box is the
// text plus its margins and never below its minimum, everything lies inside
// the box, the text sits between the title strip and the separator above the
// button row, buttons never overlap, and only types 2 and 4 show two.
#include "ui/msg_box_layout.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <string>

#include "fuzz_support.h"

namespace {

using ul::BoxRect;

bool Inside(const BoxRect& r, int width, int height) {
  return r.left >= 0 && r.top >= 0 && r.right <= width && r.bottom <= height && r.left <= r.right &&
         r.top <= r.bottom;
}

bool Overlap(const BoxRect& a, const BoxRect& b) {
  return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const int textWidth = in.ConsumeIntegralInRange<int>(0, 1 << 24);
  const int textHeight = in.ConsumeIntegralInRange<int>(0, 1 << 24);
  const int type = in.ConsumeIntegral<int>();
  // The template's check box is 9 x 9 dialog units, some 15 pixels.
  const int checkWidth = in.ConsumeIntegralInRange<int>(0, 30);
  const int checkHeight = in.ConsumeIntegralInRange<int>(0, 30);
  const int helpIconWidth = in.ConsumeIntegralInRange<int>(0, 40);
  const int hitY = in.ConsumeIntegral<int>();
  const std::string what = "text " + std::to_string(textWidth) + "x" + std::to_string(textHeight) +
                           " type " + std::to_string(type);

  const ul::BoxSize box = ul::MsgBoxSize(textWidth, textHeight);
  const int W = box.width, H = box.height;
  FUZZ_CHECK(W == std::max(textWidth + 200, ul::kBoxMinWidth), what);
  FUZZ_CHECK(H == std::max(textHeight + 100, ul::kBoxMinHeight), what);

  const BoxRect text = ul::MsgBoxTextRect(H, textWidth, textHeight);
  FUZZ_CHECK(text.left == 70 && text.Width() == textWidth && text.Height() == textHeight, what);
  FUZZ_CHECK(Inside(text, W, H) && text.top >= 30, what);
  // Vertically centred between the title strip (30) and the button row
  // with its separator (55 from the bottom), to a pixel.
  const int above = text.top - 30, below = (H - 55) - text.bottom;
  FUZZ_CHECK(below >= 0 && (above == below || above + 1 == below), what);

  const ul::MsgBoxButtons b = ul::MsgBoxButtonLayout(type, W, H);
  FUZZ_CHECK(b.secondShown == (type == 2 || type == 4), what);
  FUZZ_CHECK(b.first.Width() == 80 && b.first.Height() == 22 && Inside(b.first, W, H), what);
  FUZZ_CHECK(b.first.top > H - 47 && b.first.top >= text.bottom, what);  // below the separator
  if (b.secondShown) {
    FUZZ_CHECK(b.second.Width() == 80 && b.second.Height() == 22 && Inside(b.second, W, H), what);
    FUZZ_CHECK(!Overlap(b.first, b.second) && b.first.right <= b.second.left, what);
    FUZZ_CHECK(b.second.top == b.first.top, what);
  }
  FUZZ_CHECK(Inside(b.close, W, H) && b.close.bottom <= 22 && !Overlap(b.close, b.first), what);
  FUZZ_CHECK(ul::MsgBoxIsTitleHit(b.close.top) && ul::MsgBoxIsTitleHit(b.close.bottom - 1), what);

  const BoxRect icon = ul::MsgBoxIconRect();
  FUZZ_CHECK(Inside(icon, W, H) && icon.right <= text.left && icon.top >= 30, what);
  FUZZ_CHECK(!Overlap(icon, b.first) && !Overlap(icon, b.second), what);

  // The check box row is offered with the one-button boxes.
  const BoxRect check = ul::MsgBoxCheckRect(H, checkWidth, checkHeight);
  const BoxRect label = ul::MsgBoxCheckLabelRect(H, checkWidth, checkHeight);
  FUZZ_CHECK(Inside(check, W, H) && Inside(label, W, H) && check.right <= label.left, what);
  if (!b.secondShown) FUZZ_CHECK(!Overlap(label, b.first) && !Overlap(check, b.first), what);

  const BoxRect helpIcon = ul::MsgBoxHelpIconRect(H, helpIconWidth);
  const BoxRect helpLink = ul::MsgBoxHelpLinkRect(H, helpIconWidth);
  FUZZ_CHECK(Inside(helpIcon, W, H) && Inside(helpLink, W, H), what);
  FUZZ_CHECK(helpIcon.right <= helpLink.left && helpLink.top >= text.bottom, what);

  FUZZ_CHECK(ul::MsgBoxIsTitleHit(hitY) == (hitY >= 0 && hitY < 22), what);
  return 0;
}
