#include "ui/skin_button.h"

#include "framework/framework.h"

namespace {
const char kSelfProp[] = "ULSkinButton";

int BitmapSize(HBITMAP bitmap, int& width, int& height) {
  BITMAP info;
  if (bitmap == nullptr || GetObjectA(bitmap, sizeof(info), &info) == 0) return 0;
  width = info.bmWidth;
  height = info.bmHeight;
  return 1;
}

void Line(HDC dc, COLORREF colour, const POINT* points, int count) {
  ul::Pen pen(CreatePen(PS_SOLID, 1, colour));
  ul::Selection selection(dc, pen.Get());
  Polyline(dc, points, count);
}
}  // namespace

CSkinButton::CSkinButton()
    : inactiveBackground_(GetSysColor(COLOR_BTNFACE)),
      activeBackground_(GetSysColor(COLOR_BTNFACE)) {}

CSkinButton::~CSkinButton() {
  if (hwnd_ != nullptr && IsWindow(hwnd_)) {
    SetWindowLongPtrA(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previousProc_));
    RemovePropA(hwnd_, kSelfProp);
  }
}

void CSkinButton::DeleteBitmaps() {
  normalBitmap_.Reset();
  pressedBitmap_.Reset();
  hoverBitmap_.Reset();
  disabledBitmap_.Reset();
}

bool CSkinButton::SubclassDlgItem(int id, HWND dialog) {
  HWND control = GetDlgItem(dialog, id);
  if (control == nullptr) return false;
  if (control == hwnd_) return true;
  hwnd_ = control;
  SetPropA(control, kSelfProp, this);
  previousProc_ = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrA(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CSkinButton::WindowProc)));
  PreSubclassWindow();
  return true;
}

void CSkinButton::PreSubclassWindow() {
  // Keep the button type bits, but paint it ourselves.
  LONG style = GetWindowLongA(hwnd_, GWL_STYLE);
  SendMessageA(hwnd_, BM_SETSTYLE, (style & 0xFF) | BS_OWNERDRAW, TRUE);
}

LRESULT CALLBACK CSkinButton::WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  CSkinButton* self = static_cast<CSkinButton*>(GetPropA(hwnd, kSelfProp));
  if (self == nullptr) return DefWindowProcA(hwnd, msg, wp, lp);
  if (msg == WM_NCDESTROY) {
    WNDPROC previous = self->previousProc_;
    SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous));
    RemovePropA(hwnd, kSelfProp);
    self->hwnd_ = nullptr;
    return CallWindowProcA(previous, hwnd, msg, wp, lp);
  }
  return self->OnMessage(msg, wp, lp);
}

LRESULT CSkinButton::Default(UINT msg, WPARAM wp, LPARAM lp) {
  return CallWindowProcA(previousProc_, hwnd_, msg, wp, lp);
}

void CSkinButton::Invalidate() { InvalidateRect(hwnd_, nullptr, FALSE); }

LRESULT CSkinButton::OnMessage(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case kReflectedDrawItem:
      DrawItem(reinterpret_cast<const DRAWITEMSTRUCT*>(lp));
      return TRUE;
    case WM_CAPTURECHANGED:
      // hover keeps its value until the next move or release.
      if (hover == 1) {
        ReleaseCapture();
        Invalidate();
      }
      return Default(msg, wp, lp);
    case WM_KILLFOCUS: {
      LRESULT r = Default(msg, wp, lp);
      if (hover == 1) {
        hover = 0;
        Invalidate();
      }
      return r;
    }
    case WM_MOUSEMOVE: {
      LRESULT r = Default(msg, wp, lp);
      POINT pt = {static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp))};
      OnMouseMove(wp, pt);
      return r;
    }
    case WM_LBUTTONUP:
      if (hover == 1) {
        hover = 0;
        Invalidate();
      }
      return Default(msg, wp, lp);
    case WM_LBUTTONDOWN:
      SetFocus(hwnd_);
      return Default(msg, wp, lp);
    case WM_SHOWWINDOW: {
      LRESULT r = Default(msg, wp, lp);
      Invalidate();
      UpdateWindow(hwnd_);
      return r;
    }
    default:
      return Default(msg, wp, lp);
  }
}

void CSkinButton::OnMouseMove(WPARAM keys, POINT pt) {
  // A drag that started elsewhere does not light the button.
  if ((keys & MK_LBUTTON) != 0 && hover == 0) return;
  HWND owner = GetWindow(hwnd_, GW_OWNER);
  if (owner == nullptr) owner = GetParent(hwnd_);
  if (GetCapture() != hwnd_ && owner != nullptr) {
    hover = 1;
    SetCapture(hwnd_);
    Invalidate();
    return;
  }
  RECT client;
  GetClientRect(hwnd_, &client);
  if (PtInRect(&client, pt)) return;
  if (hover == 1) {
    hover = 0;
    Invalidate();
  }
  // While the left button is held the standard button keeps the capture so
  // that a release outside is no click.
  if ((keys & MK_LBUTTON) == 0) ReleaseCapture();
}

int CSkinButton::SetStateBitmaps(UINT normalId, UINT pressedId, UINT hoverId, UINT disabledId,
                                 int width, int height) {
  DeleteBitmaps();
  HINSTANCE module = GetModuleHandleA(nullptr);
  normalBitmap_.Reset(LoadBitmapA(module, MAKEINTRESOURCEA(normalId)));
  if (!normalBitmap_) return 0;
  struct {
    UINT id;
    ul::Bitmap* slot;
  } others[] = {{pressedId, &pressedBitmap_}, {hoverId, &hoverBitmap_}, {disabledId, &disabledBitmap_}};
  for (auto& o : others) {
    if (o.id == 0) continue;
    o.slot->Reset(LoadBitmapA(module, MAKEINTRESOURCEA(o.id)));
    if (!*o.slot) return 0;
  }
  bitmapWidth_ = static_cast<uint8_t>(width);
  bitmapHeight_ = static_cast<uint8_t>(height);
  if (hwnd_ != nullptr) {
    RedrawWindow(hwnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
  }
  return 1;
}

int CSkinButton::SetCopy(ul::Bitmap& slot, HBITMAP source) {
  if (source == nullptr) return 0;
  CopyBitmap(source, *slot.Receive());
  return slot ? 1 : 0;
}

int CSkinButton::SetNormalBitmap(HBITMAP bitmap) {
  if (bitmap == nullptr) return 0;
  int ok = SetCopy(normalBitmap_, bitmap);
  int w = 0, h = 0;
  if (BitmapSize(normalBitmap_.Get(), w, h)) {
    bitmapWidth_ = static_cast<uint8_t>(w);
    bitmapHeight_ = static_cast<uint8_t>(h);
  }
  return ok;
}

int CSkinButton::SetPressedBitmap(HBITMAP bitmap) { return SetCopy(pressedBitmap_, bitmap); }
int CSkinButton::SetHoverBitmap(HBITMAP bitmap) { return SetCopy(hoverBitmap_, bitmap); }
int CSkinButton::SetDisabledBitmap(HBITMAP bitmap) { return SetCopy(disabledBitmap_, bitmap); }

void CSkinButton::DrawItem(const DRAWITEMSTRUCT* item) {
  if (item == nullptr || item->hDC == nullptr) return;
  HDC dc = item->hDC;
  const RECT& r = item->rcItem;
  const bool selected = (item->itemState & ODS_SELECTED) != 0;
  const bool disabled = (item->itemState & ODS_DISABLED) != 0;

  ul::Brush fill(CreateSolidBrush(hover == 1 || selected ? activeBackground_ : inactiveBackground_));
  FillRect(dc, &r, fill.Get());

  const POINT topLeft[3] = {{r.left, r.bottom - 1}, {r.left, r.top}, {r.right, r.top}};
  const POINT bottomRight[3] = {
      {r.left, r.bottom - 1}, {r.right - 1, r.bottom - 1}, {r.right - 1, r.top - 1}};
  const COLORREF shadow = GetSysColor(COLOR_BTNSHADOW);
  const COLORREF light = GetSysColor(COLOR_BTNHIGHLIGHT);
  if (selected) {
    Line(dc, shadow, topLeft, 3);
    Line(dc, light, bottomRight, 3);
  } else if (hover == 1) {
    Line(dc, light, topLeft, 3);
    Line(dc, shadow, bottomRight, 3);
  }

  HBITMAP chosen;
  if (disabled) {
    chosen = disabledBitmap_.Get();
  } else if (hover == 0) {
    chosen = normalBitmap_.Get();
  } else if (selected) {
    chosen = pressedBitmap_.Get();
  } else {
    chosen = hoverBitmap_.Get();
  }
  if (chosen == nullptr) return;
  const int w = bitmapWidth_;
  const int h = bitmapHeight_;
  const int x = r.left + ((r.right - r.left) - w) / 2;
  const int y = r.top + ((r.bottom - r.top) - h) / 2;
  DrawTransparent(chosen, dc, x, y, w, h, transparentColour_);
}

void CSkinButton::DrawTransparent(HBITMAP bitmap, HDC dc, int x, int y, int width, int height,
                                  COLORREF keyColour) {
  int w0 = 0, h0 = 0;
  if (dc == nullptr || !BitmapSize(bitmap, w0, h0) || width <= 0 || height <= 0) return;
  // The work area holds the destination and receives the image; it is made
  // large enough for the stretched size too.
  const int workW = w0 > width ? w0 : width;
  const int workH = h0 > height ? h0 : height;

  ul::MemoryDc work(CreateCompatibleDC(dc));
  ul::Bitmap workBitmap(CreateCompatibleBitmap(dc, workW, workH));
  ul::Selection workSelection(work.Get(), workBitmap.Get());
  BitBlt(work.Get(), 0, 0, workW, workH, dc, x, y, SRCCOPY);

  COLORREF oldBack = SetBkColor(dc, RGB(255, 255, 255));
  COLORREF oldText = SetTextColor(dc, RGB(0, 0, 0));

  ul::MemoryDc image(CreateCompatibleDC(work.Get()));
  ul::Selection imageSelection(image.Get(), bitmap);
  ul::MemoryDc mask(CreateCompatibleDC(work.Get()));
  ul::Bitmap maskBitmap(CreateBitmap(w0, h0, 1, 1, nullptr));
  ul::Selection maskSelection(mask.Get(), maskBitmap.Get());

  // Key-colour pixels become 1 in the mask, all others 0.
  COLORREF oldImageBack = SetBkColor(image.Get(), keyColour);
  BitBlt(mask.Get(), 0, 0, w0, h0, image.Get(), 0, 0, SRCCOPY);
  SetBkColor(image.Get(), oldImageBack);

  // Monochrome to colour: 1 gives the background (white), 0 the text colour
  // (black), so the AND keeps the destination under the key colour only.
  SetBkColor(work.Get(), RGB(255, 255, 255));
  SetTextColor(work.Get(), RGB(0, 0, 0));
  SetStretchBltMode(work.Get(), COLORONCOLOR);
  StretchBlt(work.Get(), 0, 0, width, height, image.Get(), 0, 0, w0, h0, SRCINVERT);
  StretchBlt(work.Get(), 0, 0, width, height, mask.Get(), 0, 0, w0, h0, SRCAND);
  StretchBlt(work.Get(), 0, 0, width, height, image.Get(), 0, 0, w0, h0, SRCINVERT);
  BitBlt(dc, x, y, width, height, work.Get(), 0, 0, SRCCOPY);

  SetBkColor(dc, oldBack);
  SetTextColor(dc, oldText);
}

void CSkinButton::ExtractImage(HDC dc, HIMAGELIST imageList, int index, HBITMAP& outBitmap) {
  ul::Bitmap earlier(outBitmap);
  earlier.Reset();
  outBitmap = nullptr;
  int cx = 0, cy = 0;
  if (dc == nullptr || imageList == nullptr || !ImageList_GetIconSize(imageList, &cx, &cy)) return;
  outBitmap = CreateCompatibleBitmap(dc, cx, cy);
  if (outBitmap == nullptr) return;
  ul::MemoryDc memory(CreateCompatibleDC(dc));
  ul::Selection selection(memory.Get(), outBitmap);
  IMAGELISTDRAWPARAMS p;
  ZeroMemory(&p, sizeof(p));
  p.cbSize = sizeof(p);
  p.himl = imageList;
  p.i = index;
  p.hdcDst = memory.Get();
  p.rgbBk = CLR_DEFAULT;
  p.rgbFg = CLR_DEFAULT;
  p.fStyle = ILD_NORMAL;
  p.dwRop = SRCCOPY;
  ImageList_DrawIndirect(&p);
}

void CSkinButton::CopyBitmap(HBITMAP source, HBITMAP& outBitmap) {
  outBitmap = nullptr;
  int w = 0, h = 0;
  if (!BitmapSize(source, w, h)) return;
  outBitmap = static_cast<HBITMAP>(CopyImage(source, IMAGE_BITMAP, w, h, LR_CREATEDIBSECTION));
}
