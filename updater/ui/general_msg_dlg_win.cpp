#include "ui/general_msg_dlg.h"

#include <shellapi.h>

#include "common/trace.h"
#include "res/resource.h"
#include "ui/home_page.h"

namespace {

// Loaded once per process and kept: the hand over the help link, the arrow
// elsewhere.
HCURSOR g_handCursor = nullptr;
HCURSOR g_arrowCursor = nullptr;

const char kCheckLabel[] = "이후로는 이 메시지를 나타내지 않습니다.";
const char kHelpLinkText[] = "문제를 해결하려면 여기를 클릭하세요.";

// The message is shown as it stands: '&' is no mnemonic here.
const UINT kMessageFormat = DT_WORDBREAK | DT_EDITCONTROL | DT_NOPREFIX;

const COLORREF kMessageColour = 0x343434;
const COLORREF kCheckTextColour = 0x575757;
const COLORREF kLinkColour = RGB(47, 67, 160);

struct TypeLook {
  const char* caption;
  UINT icon;
  int excludedRegions;
};
// By message type: 0, then ul::kBoxInformation to ul::kBoxWarning.
const TypeLook kTypes[5] = {
    {"정보", IDB_ICON_INFO, 2},     {"정보", IDB_ICON_INFO, 2},     {"확인", IDB_ICON_QUESTION, 3},
    {"오류", IDB_ICON_ERROR, 2},    {"경고", IDB_ICON_WARNING, 3},
};

// The close button's looks come as one image list; destroyed with its owner.
struct ImageListTraits {
  using Type = HIMAGELIST;
  static Type None() { return nullptr; }
  static bool Valid(Type list) { return list != nullptr; }
  static void Close(Type list) { ImageList_Destroy(list); }
};
using ImageList = ul::Owned<ImageListTraits>;

// The height is the characters' own height (em), as the Korean faces this
// box was drawn for have no internal leading: a replacement face with a
// taller cell (NanumGothic under Wine) then keeps the intended size instead
// of shrinking by a quarter.
HFONT MakeFont(const char* face, int height, int weight, BOOL underline) {
  return CreateFontA(-height, 0, 0, 0, weight, FALSE, underline, FALSE, HANGEUL_CHARSET,
                     OUT_DEFAULT_PRECIS, CLIP_CHARACTER_PRECIS, DEFAULT_QUALITY,
                     DEFAULT_PITCH | FF_SWISS, face);
}

HBITMAP LoadResourceBitmap(UINT id) {
  return LoadBitmapA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id));
}

void BitmapSize(const ul::Bitmap& bitmap, int& width, int& height) {
  BITMAP info;
  width = height = 0;
  if (bitmap && GetObjectA(bitmap.Get(), sizeof(info), &info) != 0) {
    width = info.bmWidth;
    height = info.bmHeight;
  }
}

RECT ToRect(const ul::BoxRect& b) { return RECT{b.left, b.top, b.right, b.bottom}; }

void MoveTo(HWND control, const ul::BoxRect& b) {
  if (control != nullptr) MoveWindow(control, b.left, b.top, b.Width(), b.Height(), TRUE);
}

}  // namespace

// Every GDI object of the box is made here, before any window exists, and
// lives as long as the box.
CGeneralMsgDlg::CGeneralMsgDlg(HWND parent) : CDialog(IDD, parent) {
  helpIcon_.Reset(LoadResourceBitmap(IDB_HELP_ICON));
  BitmapSize(helpIcon_, helpIconWidth_, helpIconHeight_);
  normalFont_.Reset(MakeFont("돋움", 12, FW_NORMAL, FALSE));
  linkFont_.Reset(MakeFont("돋움", 12, FW_NORMAL, TRUE));
  whiteBrush_.Reset(CreateSolidBrush(RGB(255, 255, 255)));
  dottedPen_.Reset(CreatePen(PS_DOT, 1, 0xD8D6D6));
  shadowPen_.Reset(CreatePen(PS_SOLID, 1, 0x616161));
  highlightPen_.Reset(CreatePen(PS_SOLID, 1, 0xDCDCDC));
  borderPen_.Reset(CreatePen(PS_SOLID, 1, 0x5D5D5D));
  captionFont_.Reset(MakeFont("굴림", 13, FW_BOLD, FALSE));
  titleStrip_.Reset(LoadResourceBitmap(IDB_TITLE_STRIP));
  BitmapSize(titleStrip_, titleStripWidth_, titleStripHeight_);
}

CGeneralMsgDlg::~CGeneralMsgDlg() = default;

void CGeneralMsgDlg::SetMessage(int messageType, const char* text, int messageFlags) {
  message_ = text != nullptr ? text : "";
  messageType_ = messageType;
  messageFlags_ = messageFlags;
  if (messageType >= 0 && messageType <= 4) {
    const TypeLook& look = kTypes[messageType];
    typeIcon_.Reset(LoadResourceBitmap(look.icon));
    excludedRegionCount_ = look.excludedRegions;
    caption_ = look.caption;
  }
  checkLabelShown_ = messageFlags == 1 ? 1 : 0;
  CheckDlgize();
}

void CGeneralMsgDlg::SetHelpLink(int code) {
  // The callers pass the reason (ul::kHelpLinkStartFailed,
  // ul::kHelpLinkDownloadFailed); any positive code shows the line that leads
  // to the home page.
  helpLinkCode_ = code;
}

void CGeneralMsgDlg::CheckDlgize() {
  RECT measured = {0, 0, ul::kBoxTextWrap, 300};
  {
    ul::WindowDc screen(nullptr);
    if (screen.Get() == nullptr) {
      DebugTrace("CGeneralMsgBox::CheckDlgize: no device context for the screen");
      return;
    }
    ul::Selection font(screen.Get(), normalFont_.Get());
    DrawTextA(screen.Get(), message_.c_str(), -1, &measured, DT_CALCRECT | kMessageFormat);
  }

  textWidth_ = measured.right - measured.left;
  textHeight_ = measured.bottom - measured.top;
  ul::BoxSize size = ul::MsgBoxSize(textWidth_, textHeight_);
  dialogWidth_ = size.width;
  dialogHeight_ = size.height;
}

void CGeneralMsgDlg::DoDataExchange(bool save) {
  closeButton_.SubclassDlgItem(IDC_MSG_CLOSE, m_hWnd);
  firstButton_.SubclassDlgItem(IDC_MSG_OK, m_hWnd);
  secondButton_.SubclassDlgItem(IDC_MSG_CANCEL, m_hWnd);
  checkBox_ = GetDlgItem(IDC_MSG_DONT_SHOW);
  if (checkBox_ == nullptr) return;
  if (save) {
    dontShowAgain = SendMessageA(checkBox_, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
  } else {
    SendMessageA(checkBox_, BM_SETCHECK, dontShowAgain ? BST_CHECKED : BST_UNCHECKED, 0);
  }
}

BOOL CGeneralMsgDlg::OnInitDialog() {
  // The box has no caption bar; its window text carries caption and
  // message for whoever reads windows rather than pixels.
  std::string accessible = caption_ + "\n" + message_;
  SetWindowTextA(m_hWnd, accessible.c_str());

  LoadCloseButtonLooks();
  firstButton_.SetStateBitmaps(IDB_OK_NORMAL, IDB_OK_PRESSED, IDB_OK_HOVER, IDB_OK_NORMAL, 80, 22);
  secondButton_.SetStateBitmaps(IDB_CANCEL_NORMAL, IDB_CANCEL_PRESSED, IDB_CANCEL_HOVER,
                                IDB_CANCEL_DISABLED, 80, 22);

  // The template's size is only a placeholder.
  SetWindowPos(m_hWnd, nullptr, 0, 0, dialogWidth_, dialogHeight_,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  LayoutButtons();
  LayoutCheckBox();
  LayoutHelpLink();
  LayoutText();

  if (g_handCursor == nullptr) {
    g_handCursor = LoadCursorA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDC_LINK_HAND));
    if (g_handCursor == nullptr) g_handCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32649));
  }
  if (g_arrowCursor == nullptr) g_arrowCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));
  // The framework centres the box, now that it has its size.
  return TRUE;
}

// The close button's three looks come as one strip of 9 x 10 images; the
// button keeps copies of them.
void CGeneralMsgDlg::LoadCloseButtonLooks() {
  ImageList strip(ImageList_Create(9, 10, ILC_COLOR32 | ILC_MASK, 3, 0));
  ul::Bitmap stripBitmap(LoadResourceBitmap(IDB_CLOSE_STRIP));
  if (!strip || !stripBitmap) return;
  ImageList_AddMasked(strip.Get(), stripBitmap.Get(), RGB(0, 0, 0));
  ul::Bitmap images[3];
  {
    ul::WindowDc dc(m_hWnd);
    for (int i = 0; i < 3; ++i) CSkinButton::ExtractImage(dc.Get(), strip.Get(), i, *images[i].Receive());
  }
  closeButton_.SetNormalBitmap(images[0].Get());
  closeButton_.SetHoverBitmap(images[1].Get());
  closeButton_.SetPressedBitmap(images[2].Get());
}

void CGeneralMsgDlg::OnSize() {
  RECT r;
  GetWindowRect(m_hWnd, &r);
  if (r.right - r.left != dialogWidth_ || r.bottom - r.top != dialogHeight_) {
    SetWindowPos(m_hWnd, nullptr, 0, 0, dialogWidth_, dialogHeight_,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    return;  // that move sends its own size notification
  }
  LayoutButtons();
  LayoutCheckBox();
  LayoutHelpLink();
  LayoutText();
}

void CGeneralMsgDlg::LayoutButtons() {
  RECT c;
  GetClientRect(m_hWnd, &c);
  ul::MsgBoxButtons b = ul::MsgBoxButtonLayout(messageType_, c.right, c.bottom);
  MoveTo(closeButton_.GetSafeHwnd(), b.close);
  MoveTo(firstButton_.GetSafeHwnd(), b.first);
  if (firstButton_.GetSafeHwnd()) ShowWindow(firstButton_.GetSafeHwnd(), SW_SHOW);
  if (secondButton_.GetSafeHwnd()) {
    if (b.secondShown) MoveTo(secondButton_.GetSafeHwnd(), b.second);
    ShowWindow(secondButton_.GetSafeHwnd(), b.secondShown ? SW_SHOW : SW_HIDE);
  }
}

void CGeneralMsgDlg::LayoutCheckBox() {
  if (checkBox_ == nullptr) return;
  if (messageFlags_ != 1) {
    ShowWindow(checkBox_, SW_HIDE);
    return;
  }
  RECT c, own;
  GetClientRect(m_hWnd, &c);
  GetWindowRect(checkBox_, &own);
  int w = own.right - own.left;
  int h = own.bottom - own.top;
  MoveTo(checkBox_, ul::MsgBoxCheckRect(c.bottom, w, h));
  checkLabelRect_ = ToRect(ul::MsgBoxCheckLabelRect(c.bottom, w, h));
  ShowWindow(checkBox_, SW_SHOW);
}

void CGeneralMsgDlg::LayoutHelpLink() {
  RECT c;
  GetClientRect(m_hWnd, &c);
  helpIconRect_ = ToRect(ul::MsgBoxHelpIconRect(c.bottom, helpIconWidth_));
  helpLinkRect_ = ToRect(ul::MsgBoxHelpLinkRect(c.bottom, helpIconWidth_));
}

void CGeneralMsgDlg::LayoutText() {
  RECT c;
  GetClientRect(m_hWnd, &c);
  textRect_ = ToRect(ul::MsgBoxTextRect(c.bottom, textWidth_, textHeight_));
  typeIconRect_ = ToRect(ul::MsgBoxIconRect());
}

void CGeneralMsgDlg::Drawing() {
  RecordChildRects();
  ul::WindowDc dc(m_hWnd);
  if (dc.Get() == nullptr) {
    DebugTrace("CGeneralMsgDlg::Drawing: no device context for the box");
    return;
  }
  RECT client;
  GetClientRect(m_hWnd, &client);
  const int W = client.right;
  const int H = client.bottom;

  ul::MemoryDc canvas(CreateCompatibleDC(dc.Get()));
  ul::Bitmap canvasBitmap(CreateCompatibleBitmap(dc.Get(), W, H));
  ul::Selection canvasSelection(canvas.Get(), canvasBitmap.Get());
  // Holds each bitmap in turn that is copied onto the canvas.
  ul::MemoryDc source(CreateCompatibleDC(dc.Get()));
  SetBkMode(canvas.Get(), TRANSPARENT);

  PaintFrame(canvas.Get(), source.Get(), W, H);
  PaintCaptionAndIcon(canvas.Get(), source.Get(), W);
  PaintMessage(canvas.Get());
  if (helpLinkCode_ > 0) PaintHelpLink(canvas.Get(), source.Get());
  CopyToWindow(dc.Get(), canvas.Get(), W, H);
}

// The buttons' rectangles in client coordinates, for the final copy to leave
// out.
void CGeneralMsgDlg::RecordChildRects() {
  HWND children[3] = {closeButton_.GetSafeHwnd(), firstButton_.GetSafeHwnd(),
                      secondButton_.GetSafeHwnd()};
  for (int i = 0; i < 3; ++i) {
    if (children[i] == nullptr) continue;
    GetWindowRect(children[i], &childRects_[i]);
    MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&childRects_[i]), 2);
  }
}

// Title strip, white body, the border's three rings and the dotted
// separator above the buttons.
void CGeneralMsgDlg::PaintFrame(HDC canvas, HDC source, int W, int H) const {
  // A new bitmap's content is undefined: start from white.
  const RECT all = {0, 0, W, H};
  FillRect(canvas, &all, whiteBrush_.Get());
  if (titleStrip_) {
    ul::Selection strip(source, titleStrip_.Get());
    SetStretchBltMode(canvas, COLORONCOLOR);
    StretchBlt(canvas, 2, 2, W - 4, 27, source, 0, 0, titleStripWidth_, titleStripHeight_, SRCCOPY);
  }
  const RECT body = {0, 30, W, H};
  FillRect(canvas, &body, whiteBrush_.Get());

  ul::Selection noFill(canvas, GetStockObject(NULL_BRUSH));
  // The pens take turns; the first selection puts the canvas's own pen back.
  ul::Selection pen(canvas, borderPen_.Get());
  Rectangle(canvas, 0, 0, W, H);
  const POINT highlight[3] = {{W - 2, 1}, {1, 1}, {1, H - 1}};
  SelectObject(canvas, highlightPen_.Get());
  Polyline(canvas, highlight, 3);
  const POINT shadow[3] = {{W - 2, 1}, {W - 2, H - 2}, {0, H - 2}};
  SelectObject(canvas, shadowPen_.Get());
  Polyline(canvas, shadow, 3);
  SelectObject(canvas, dottedPen_.Get());
  MoveToEx(canvas, 14, H - 47, nullptr);
  LineTo(canvas, W - 14, H - 47);
}

void CGeneralMsgDlg::PaintCaptionAndIcon(HDC canvas, HDC source, int W) const {
  {
    ul::Selection font(canvas, captionFont_.Get());
    SetTextColor(canvas, RGB(255, 255, 255));
    RECT captionRect = {11, 4, W, 29};
    DrawTextA(canvas, caption_.c_str(), -1, &captionRect, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
  }
  if (typeIcon_) {
    ul::Selection icon(source, typeIcon_.Get());
    BitBlt(canvas, typeIconRect_.left, typeIconRect_.top, 40, 40, source, 0, 0, SRCCOPY);
  }
}

// The message, and the check box's label in the same font and colour.
void CGeneralMsgDlg::PaintMessage(HDC canvas) const {
  ul::Selection font(canvas, normalFont_.Get());
  SetTextColor(canvas, kMessageColour);
  RECT textRect = textRect_;
  DrawTextA(canvas, message_.c_str(), -1, &textRect, kMessageFormat);
  if (checkLabelShown_) {
    RECT label = checkLabelRect_;
    DrawTextA(canvas, kCheckLabel, -1, &label, DT_SINGLELINE | DT_NOPREFIX);
  }
}

void CGeneralMsgDlg::PaintHelpLink(HDC canvas, HDC source) const {
  if (helpIcon_) {
    ul::Selection icon(source, helpIcon_.Get());
    int top = helpIconRect_.top + ((helpIconRect_.bottom - helpIconRect_.top) - helpIconHeight_) / 2;
    BitBlt(canvas, helpIconRect_.left, top, helpIconWidth_, helpIconHeight_, source, 0, 0, SRCCOPY);
  }
  ul::Selection font(canvas, linkFont_.Get());
  SetTextColor(canvas, kLinkColour);
  RECT link = helpLinkRect_;
  DrawTextA(canvas, kHelpLinkText, -1, &link, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
}

// The buttons paint themselves; the copy stays off them.
void CGeneralMsgDlg::CopyToWindow(HDC window, HDC canvas, int W, int H) const {
  for (int i = 0; i < excludedRegionCount_ && i < 3; ++i) {
    const RECT& r = childRects_[i];
    ExcludeClipRect(window, r.left, r.top, r.right, r.bottom);
  }
  BitBlt(window, 0, 0, W, H, canvas, 0, 0, SRCCOPY);
}

void CGeneralMsgDlg::OnMouseMove(POINT pt) {
  if (helpLinkCode_ <= 0) return;
  if (PtInRect(&helpLinkRect_, pt)) {
    linkHover_ = 1;
    SetCursor(g_handCursor);
  } else if (linkHover_) {
    linkHover_ = 0;
    SetCursor(g_arrowCursor);
  }
}

void CGeneralMsgDlg::OnLButtonDown(POINT pt) {
  linkPressed_ = helpLinkCode_ > 0 && PtInRect(&helpLinkRect_, pt) ? 1 : 0;
}

void CGeneralMsgDlg::OnLButtonUp(POINT pt) {
  const bool open = linkPressed_ && helpLinkCode_ > 0 && PtInRect(&helpLinkRect_, pt);
  linkPressed_ = 0;
  if (!open) return;
  OpenHomePage();
  EndDialog(2);
}

HBRUSH CGeneralMsgDlg::OnCtlColor(HDC dc, HWND control) {
  if (control == nullptr || control != checkBox_) return nullptr;
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, kCheckTextColour);
  return whiteBrush_.Get();
}

void CGeneralMsgDlg::OnOK() {
  UpdateData(TRUE);
  EndDialog(1);
}

bool CGeneralMsgDlg::OnMessage(UINT msg, WPARAM wp, LPARAM lp, INT_PTR& result) {
  POINT pt = {static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp))};
  switch (msg) {
    case WM_PAINT: {
      // Only acknowledged: all drawing goes through one off-screen copy.
      PAINTSTRUCT ps;
      BeginPaint(m_hWnd, &ps);
      EndPaint(m_hWnd, &ps);
      Drawing();
      result = 0;
      return true;
    }
    case WM_SIZE:
      OnSize();
      result = 0;
      return true;
    case WM_NCHITTEST: {
      ScreenToClient(m_hWnd, &pt);
      RECT c;
      GetClientRect(m_hWnd, &c);
      if (PtInRect(&c, pt) && ul::MsgBoxIsTitleHit(pt.y)) {
        result = HTCAPTION;
        return true;
      }
      return false;
    }
    case WM_COMMAND:
      if (HIWORD(wp) != BN_CLICKED) return false;
      switch (LOWORD(wp)) {
        case IDC_MSG_OK:
          OnOK();
          return true;
        case IDC_MSG_CANCEL:
        case IDC_MSG_CLOSE:
          EndDialog(2);
          return true;
        case IDC_MSG_DONT_SHOW:
          UpdateData(TRUE);
          return true;
      }
      return false;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN: {
      HBRUSH brush = OnCtlColor(reinterpret_cast<HDC>(wp), reinterpret_cast<HWND>(lp));
      if (brush == nullptr) return false;
      result = reinterpret_cast<INT_PTR>(brush);
      return true;
    }
    case WM_MOUSEMOVE:
      OnMouseMove(pt);
      return true;
    case WM_LBUTTONDOWN:
      OnLButtonDown(pt);
      return true;
    case WM_LBUTTONUP:
      OnLButtonUp(pt);
      return true;
  }
  return false;
}
