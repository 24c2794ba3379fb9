// The product's message box: a borderless, self-painted box with a blue
// title strip, a type icon, the message wrapped and centred, and one or two
// bitmap buttons. It sizes itself to the message before it is created.
//
//   CGeneralMsgDlg box;
//   box.SetMessage(ul::kBoxError, text, 0);
//   box.DoModal();                  // 1: "확인"; 2: "취소", close button, Esc
#pragma once

#include <windows.h>

#include <string>

#include "formats/base/owned_win.h"
#include "framework/framework.h"
#include "ui/msg_box_layout.h"
#include "ui/skin_button.h"

namespace ul {

// Message types of SetMessage, each with its caption; the icon and the
// buttons follow (type 0 looks like information).
constexpr int kBoxInformation = 1;  // "정보", one button
constexpr int kBoxQuestion = 2;     // "확인", "확인" and "취소"
constexpr int kBoxError = 3;        // "오류", one button
constexpr int kBoxWarning = 4;      // "경고", "확인" and "취소"

// Why a box offers the help line (SetHelpLink); 0 offers none.
constexpr int kHelpLinkDownloadFailed = 2;  // a file could not be fetched
constexpr int kHelpLinkStartFailed = 4;     // the client program to start is missing

}  // namespace ul

class CGeneralMsgDlg : public CDialog {
 public:
  enum { IDD = 781 };
  explicit CGeneralMsgDlg(HWND parent = nullptr);
  ~CGeneralMsgDlg() override;

  // Stores the message; types 0-4 (above) pick caption, icon and buttons.
  // Flags 1 shows the "don't show again" check box. Fixes the box's size.
  void SetMessage(int messageType, const char* text, int messageFlags);
  // A code above 0 (kHelpLink...) shows the help line, which opens the
  // product home page.
  void SetHelpLink(int code);
  // Measures the message with the box's font and sets the box's size.
  void CheckDlgize();

  int dontShowAgain = 0;

  // What the box decided, for those who need to look (tests among them).
  int DialogWidth() const { return dialogWidth_; }
  int DialogHeight() const { return dialogHeight_; }
  int TextWidth() const { return textWidth_; }
  int TextHeight() const { return textHeight_; }
  int HelpLinkCode() const { return helpLinkCode_; }
  int ExcludedRegionCount() const { return excludedRegionCount_; }
  const RECT& TextRect() const { return textRect_; }
  const std::string& Caption() const { return caption_; }

 protected:
  BOOL OnInitDialog() override;
  void DoDataExchange(bool save) override;
  bool OnMessage(UINT msg, WPARAM wp, LPARAM lp, INT_PTR& result) override;
  void OnOK() override;

 private:
  void OnSize();
  void LayoutButtons();
  void LayoutCheckBox();
  void LayoutHelpLink();
  void LayoutText();
  void LoadCloseButtonLooks();
  // Painting: everything goes to an off-screen copy first, which reaches the
  // window in one block, so the box never flickers.
  void Drawing();
  void RecordChildRects();
  void PaintFrame(HDC canvas, HDC source, int width, int height) const;
  void PaintCaptionAndIcon(HDC canvas, HDC source, int width) const;
  void PaintMessage(HDC canvas) const;
  void PaintHelpLink(HDC canvas, HDC source) const;
  void CopyToWindow(HDC window, HDC canvas, int width, int height) const;
  void OnMouseMove(POINT pt);
  void OnLButtonDown(POINT pt);
  void OnLButtonUp(POINT pt);
  HBRUSH OnCtlColor(HDC dc, HWND control);

  int linkPressed_ = 0;
  ul::Bitmap helpIcon_;
  int helpIconWidth_ = 0;
  int helpIconHeight_ = 0;
  int checkLabelShown_ = 0;
  int helpLinkCode_ = 0;
  RECT helpLinkRect_ = {0, 0, 0, 0};
  RECT helpIconRect_ = {0, 0, 0, 0};
  int linkHover_ = 0;
  RECT checkLabelRect_ = {0, 0, 0, 0};
  RECT textRect_ = {0, 0, ul::kBoxTextWrap, 300};
  std::string message_;
  int messageType_ = 0;
  int messageFlags_ = 0;
  ul::Font normalFont_;
  ul::Font linkFont_;
  ul::Brush whiteBrush_;
  int dialogWidth_ = ul::kBoxMinWidth;
  int dialogHeight_ = ul::kBoxMinHeight;
  int textWidth_ = 0;
  int textHeight_ = 0;
  // Child controls that the final copy must not paint over, in this order:
  // close button, first button, second button.
  RECT childRects_[3] = {};
  int excludedRegionCount_ = 3;
  ul::Bitmap typeIcon_;
  RECT typeIconRect_ = {0, 0, 0, 0};
  std::string caption_;
  ul::Pen dottedPen_;
  ul::Pen shadowPen_;
  ul::Pen highlightPen_;
  ul::Pen borderPen_;
  ul::Font captionFont_;
  ul::Bitmap titleStrip_;
  int titleStripWidth_ = 0;
  int titleStripHeight_ = 0;
  CSkinButton closeButton_;
  CSkinButton firstButton_;
  CSkinButton secondButton_;
  HWND checkBox_ = nullptr;
};
