// Owner-drawn push button that shows one of four bitmaps by state (normal,
// hover, pressed, disabled). It notices the pointer by taking the mouse
// capture while the pointer is over it. Clicks, keyboard and notifications
// stay the standard button's.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <cstdint>

#include "formats/base/owned_win.h"

class CSkinButton {
 public:
  CSkinButton();
  virtual ~CSkinButton();
  CSkinButton(const CSkinButton&) = delete;
  CSkinButton& operator=(const CSkinButton&) = delete;

  // Attaches the button control `id` of `dialog` (dialog data exchange) and
  // makes it owner-drawn. Attaching an already attached button does nothing.
  bool SubclassDlgItem(int id, HWND dialog);
  HWND GetSafeHwnd() const { return hwnd_; }

  // Loads the state bitmaps from the program's resources (0 = none for the
  // pressed, hover and disabled states) and records the drawing size.
  // 0 when a requested bitmap cannot be loaded.
  int SetStateBitmaps(UINT normalId, UINT pressedId, UINT hoverId, UINT disabledId, int width,
                      int height);

  // Copying setters: the caller keeps its bitmap. The normal one also sets
  // the drawing size from the copy. 0 for no bitmap or a failed copy.
  int SetNormalBitmap(HBITMAP bitmap);
  int SetPressedBitmap(HBITMAP bitmap);
  int SetHoverBitmap(HBITMAP bitmap);
  int SetDisabledBitmap(HBITMAP bitmap);

  // Paints the button for an owner-draw request.
  void DrawItem(const DRAWITEMSTRUCT* item);

  int BitmapWidth() const { return bitmapWidth_; }
  int BitmapHeight() const { return bitmapHeight_; }

  // Draws `bitmap` at (x, y) stretched to width x height; pixels of
  // keyColour leave the destination as it was.
  static void DrawTransparent(HBITMAP bitmap, HDC dc, int x, int y, int width, int height,
                              COLORREF keyColour);
  // Turns image `index` of `imageList` into a bitmap of its own (image 0's
  // size) compatible with dc. Whatever outBitmap held is deleted first.
  static void ExtractImage(HDC dc, HIMAGELIST imageList, int index, HBITMAP& outBitmap);
  // A device-independent copy of source; outBitmap stays empty on failure.
  static void CopyBitmap(HBITMAP source, HBITMAP& outBitmap);

  int hover = 0;

 protected:
  // Runs when a window is attached: makes it owner-drawn.
  virtual void PreSubclassWindow();

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  LRESULT Default(UINT msg, WPARAM wp, LPARAM lp);
  LRESULT OnMessage(UINT msg, WPARAM wp, LPARAM lp);
  void OnMouseMove(WPARAM keys, POINT pt);
  void Invalidate();
  void DeleteBitmaps();
  int SetCopy(ul::Bitmap& slot, HBITMAP source);

  ul::Bitmap normalBitmap_;
  ul::Bitmap pressedBitmap_;
  ul::Bitmap hoverBitmap_;
  ul::Bitmap disabledBitmap_;
  // Eight bits each, as the product has always recorded them: a bitmap is
  // drawn at most 255 x 255.
  uint8_t bitmapHeight_ = 0;
  uint8_t bitmapWidth_ = 0;
  COLORREF inactiveBackground_;
  COLORREF activeBackground_;
  COLORREF transparentColour_ = RGB(0, 255, 0);

  HWND hwnd_ = nullptr;
  WNDPROC previousProc_ = nullptr;
};
