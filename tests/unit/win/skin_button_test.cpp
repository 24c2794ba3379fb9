#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include "ui/general_msg_dlg.h"
#include "ui/skin_button.h"
#include "win/ui_box_watch.h"

namespace {

const COLORREF kKey = RGB(0, 255, 0);

// A 32-bit top-down DIB section filled with one colour.
HBITMAP Solid(int w, int h, COLORREF colour) {
  BITMAPINFO bi = {};
  bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
  bi.bmiHeader.biWidth = w;
  bi.bmiHeader.biHeight = -h;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP b = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, b);
  RECT r = {0, 0, w, h};
  HBRUSH brush = CreateSolidBrush(colour);
  FillRect(dc, &r, brush);
  DeleteObject(brush);
  SelectObject(dc, old);
  DeleteDC(dc);
  return b;
}

// A memory DC over a solid canvas; the DC owns nothing else.
class Canvas {
 public:
  Canvas(int w, int h, COLORREF colour) : bitmap_(Solid(w, h, colour)) {
    dc_ = CreateCompatibleDC(nullptr);
    old_ = SelectObject(dc_, bitmap_);
  }
  ~Canvas() {
    SelectObject(dc_, old_);
    DeleteDC(dc_);
    DeleteObject(bitmap_);
  }
  HDC dc() const { return dc_; }
  COLORREF At(int x, int y) const { return GetPixel(dc_, x, y); }

 private:
  HBITMAP bitmap_;
  HDC dc_;
  HGDIOBJ old_;
};

TEST(SkinBitmaps, DrawTransparentLeavesKeyColourPixelsAlone) {
  // Left half key colour, right half blue.
  HBITMAP image = Solid(20, 10, RGB(0, 0, 200));
  {
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, image);
    RECT left = {0, 0, 10, 10};
    HBRUSH key = CreateSolidBrush(kKey);
    FillRect(dc, &left, key);
    DeleteObject(key);
    SelectObject(dc, old);
    DeleteDC(dc);
  }
  Canvas canvas(60, 40, RGB(200, 0, 0));
  CSkinButton::DrawTransparent(image, canvas.dc(), 5, 5, 20, 10, kKey);
  EXPECT_EQ(canvas.At(7, 7), RGB(200, 0, 0));   // key: destination shows
  EXPECT_EQ(canvas.At(20, 7), RGB(0, 0, 200));  // image
  EXPECT_EQ(canvas.At(3, 3), RGB(200, 0, 0));   // outside
  EXPECT_EQ(canvas.At(26, 7), RGB(200, 0, 0));

  // Stretched to twice the size.
  Canvas big(60, 40, RGB(200, 0, 0));
  CSkinButton::DrawTransparent(image, big.dc(), 0, 0, 40, 20, kKey);
  EXPECT_EQ(big.At(15, 15), RGB(200, 0, 0));
  EXPECT_EQ(big.At(35, 15), RGB(0, 0, 200));
  EXPECT_EQ(big.At(45, 15), RGB(200, 0, 0));
  DeleteObject(image);
}

TEST(SkinBitmaps, CopyBitmapIsAnIndependentSection) {
  HBITMAP source = Solid(13, 7, RGB(10, 20, 30));
  HBITMAP copy = nullptr;
  CSkinButton::CopyBitmap(source, copy);
  DeleteObject(source);
  ASSERT_NE(copy, nullptr);
  DIBSECTION ds;
  ASSERT_EQ(GetObjectA(copy, sizeof(ds), &ds), static_cast<int>(sizeof(ds)));
  EXPECT_EQ(ds.dsBm.bmWidth, 13);
  EXPECT_EQ(ds.dsBm.bmHeight, 7);
  Canvas canvas(20, 10, RGB(255, 255, 255));
  HDC src = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(src, copy);
  BitBlt(canvas.dc(), 0, 0, 13, 7, src, 0, 0, SRCCOPY);
  SelectObject(src, old);
  DeleteDC(src);
  EXPECT_EQ(canvas.At(6, 3), RGB(10, 20, 30));
  DeleteObject(copy);

  HBITMAP none = reinterpret_cast<HBITMAP>(1);
  CSkinButton::CopyBitmap(nullptr, none);
  EXPECT_EQ(none, nullptr);
}

TEST(SkinBitmaps, ExtractImageCutsOneImageOutOfTheCloseStrip) {
  HBITMAP strip = LoadBitmapA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(163));
  ASSERT_NE(strip, nullptr);
  BITMAP info;
  GetObjectA(strip, sizeof(info), &info);
  EXPECT_EQ(info.bmWidth, 27);
  EXPECT_EQ(info.bmHeight, 10);
  HIMAGELIST list = ImageList_Create(9, 10, ILC_COLOR32 | ILC_MASK, 3, 0);
  ASSERT_EQ(ImageList_AddMasked(list, strip, RGB(0, 0, 0)), 0);
  EXPECT_EQ(ImageList_GetImageCount(list), 3);

  HDC screen = GetDC(nullptr);
  HBITMAP images[3] = {nullptr, nullptr, nullptr};
  for (int i = 0; i < 3; ++i) CSkinButton::ExtractImage(screen, list, i, images[i]);
  ReleaseDC(nullptr, screen);

  HDC a = CreateCompatibleDC(nullptr);
  HDC b = CreateCompatibleDC(nullptr);
  HGDIOBJ oldB = SelectObject(b, strip);
  for (int i = 0; i < 3; ++i) {
    ASSERT_NE(images[i], nullptr);
    GetObjectA(images[i], sizeof(info), &info);
    EXPECT_EQ(info.bmWidth, 9);
    EXPECT_EQ(info.bmHeight, 10);
    HGDIOBJ oldA = SelectObject(a, images[i]);
    int differing = 0;
    for (int y = 0; y < 10; ++y) {
      for (int x = 0; x < 9; ++x) {
        if (GetPixel(a, x, y) != GetPixel(b, i * 9 + x, y)) ++differing;
      }
    }
    EXPECT_EQ(differing, 0) << "image " << i;
    SelectObject(a, oldA);
  }
  // The three looks differ from each other.
  HGDIOBJ oldA = SelectObject(a, images[0]);
  COLORREF normalCorner = GetPixel(a, 0, 0);
  SelectObject(a, images[1]);
  COLORREF hoverCorner = GetPixel(a, 0, 0);
  SelectObject(a, oldA);
  EXPECT_NE(normalCorner, hoverCorner);

  SelectObject(b, oldB);
  DeleteDC(a);
  DeleteDC(b);
  for (HBITMAP h : images) DeleteObject(h);
  ImageList_Destroy(list);
  DeleteObject(strip);
}

TEST(SkinButtonBitmaps, StateBitmapsFromResourcesAndCopies) {
  CSkinButton button;
  EXPECT_EQ(button.SetStateBitmaps(154, 156, 155, 154, 80, 22), 1);
  EXPECT_EQ(button.BitmapWidth(), 80);
  EXPECT_EQ(button.BitmapHeight(), 22);
  EXPECT_EQ(button.SetStateBitmaps(9999, 0, 0, 0, 80, 22), 0);  // no such normal bitmap
  EXPECT_EQ(button.SetStateBitmaps(150, 152, 9999, 164, 80, 22), 0);
  EXPECT_EQ(button.SetStateBitmaps(150, 0, 0, 0, 80, 22), 1);  // others optional

  // Sizes are recorded in eight bits: 300 becomes 44.
  HBITMAP wide = Solid(300, 20, RGB(1, 2, 3));
  EXPECT_EQ(button.SetNormalBitmap(wide), 1);
  DeleteObject(wide);  // the button keeps its own copy
  EXPECT_EQ(button.BitmapWidth(), 44);
  EXPECT_EQ(button.BitmapHeight(), 20);
  EXPECT_EQ(button.SetNormalBitmap(nullptr), 0);
  EXPECT_EQ(button.SetHoverBitmap(nullptr), 0);
}

class SkinButtonPaint : public ::testing::Test {
 protected:
  void SetUp() override {
    HBITMAP n = Solid(20, 10, RGB(200, 0, 0));
    HBITMAP p = Solid(20, 10, RGB(0, 0, 200));
    HBITMAP h = Solid(20, 10, RGB(200, 200, 0));
    HBITMAP d = Solid(20, 10, RGB(90, 90, 90));
    button_.SetNormalBitmap(n);
    button_.SetPressedBitmap(p);
    button_.SetHoverBitmap(h);
    button_.SetDisabledBitmap(d);
    for (HBITMAP b : {n, p, h, d}) DeleteObject(b);
  }
  // Paints the 80 x 22 button in the given state; returns the centre pixel.
  COLORREF Paint(UINT state, int hover, COLORREF* corner = nullptr) {
    Canvas canvas(80, 22, RGB(255, 255, 255));
    DRAWITEMSTRUCT item = {};
    item.CtlType = ODT_BUTTON;
    item.hDC = canvas.dc();
    item.rcItem = RECT{0, 0, 80, 22};
    item.itemState = state;
    button_.hover = hover;
    button_.DrawItem(&item);
    if (corner != nullptr) *corner = canvas.At(5, 5);
    return canvas.At(40, 11);
  }
  CSkinButton button_;
};

TEST_F(SkinButtonPaint, BitmapFollowsStateAndHover) {
  COLORREF corner = 0;
  EXPECT_EQ(Paint(0, 0, &corner), RGB(200, 0, 0));
  EXPECT_EQ(corner, GetSysColor(COLOR_BTNFACE));  // smaller bitmap: centred on the fill
  struct {
    UINT state;
    int hover;
    COLORREF shown;
  } cases[] = {
      // Pressed with the keyboard while the pointer is elsewhere: normal look.
      {ODS_SELECTED, 0, RGB(200, 0, 0)},
      {0, 1, RGB(200, 200, 0)},
      {ODS_SELECTED, 1, RGB(0, 0, 200)},
      {ODS_DISABLED, 1, RGB(90, 90, 90)},
      {ODS_DISABLED, 0, RGB(90, 90, 90)},
  };
  for (const auto& c : cases) EXPECT_EQ(Paint(c.state, c.hover), c.shown) << c.state << "/" << c.hover;
}

TEST_F(SkinButtonPaint, BorderLooksRaisedOnHoverAndSunkenWhenPressed) {
  Canvas canvas(80, 22, RGB(255, 255, 255));
  DRAWITEMSTRUCT item = {};
  item.hDC = canvas.dc();
  item.rcItem = RECT{0, 0, 80, 22};
  button_.hover = 1;
  button_.DrawItem(&item);
  EXPECT_EQ(canvas.At(0, 5), GetSysColor(COLOR_BTNHIGHLIGHT));
  EXPECT_EQ(canvas.At(79, 5), GetSysColor(COLOR_BTNSHADOW));
  item.itemState = ODS_SELECTED;
  button_.DrawItem(&item);
  EXPECT_EQ(canvas.At(0, 5), GetSysColor(COLOR_BTNSHADOW));
  EXPECT_EQ(canvas.At(79, 5), GetSysColor(COLOR_BTNHIGHLIGHT));
}

TEST(SkinButtonPaintMissing, DisabledWithoutBitmapShowsOnlyTheFill) {
  CSkinButton button;
  HBITMAP n = Solid(80, 22, RGB(200, 0, 0));
  button.SetNormalBitmap(n);
  DeleteObject(n);
  Canvas canvas(80, 22, RGB(255, 255, 255));
  DRAWITEMSTRUCT item = {};
  item.hDC = canvas.dc();
  item.rcItem = RECT{0, 0, 80, 22};
  item.itemState = ODS_DISABLED;
  button.DrawItem(&item);
  EXPECT_EQ(canvas.At(40, 11), GetSysColor(COLOR_BTNFACE));
}

// The pointer's way over a live button of the message box, sent as the
// window messages it would cause.
TEST(SkinButtonHover, CaptureFollowsThePointer) {
  CGeneralMsgDlg box;
  box.SetMessage(3, "hover", 0);
  HWND captured[4] = {};
  BoxWatch watch(1176, [&](HWND h) {
    HWND button = GetDlgItem(h, 1176);
    DWORD thread = GetWindowThreadProcessId(h, nullptr);
    auto capture = [&] {
      GUITHREADINFO gti = {};
      gti.cbSize = sizeof(gti);
      GetGUIThreadInfo(thread, &gti);
      return gti.hwndCapture;
    };
    SendMessageW(button, WM_MOUSEMOVE, 0, MAKELPARAM(10, 10));  // enters
    captured[0] = capture();
    SendMessageW(button, WM_MOUSEMOVE, 0, MAKELPARAM(200, 10));  // leaves
    captured[1] = capture();
    // Dragging in from outside with the button held does not light it.
    SendMessageW(button, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(10, 10));
    captured[2] = capture();
    captured[3] = button;
  });
  EXPECT_EQ(box.DoModal(), 1);
  watch.Join();
  EXPECT_EQ(captured[0], captured[3]);
  EXPECT_EQ(captured[1], nullptr);
  EXPECT_EQ(captured[2], nullptr);
}

}  // namespace
