// The two bars of one file's transfer: the per-file bar runs
// 0..kStepsPerFile, the total bar moves by as many steps from where it stood
// at the start. Both are sent to (never posted), so they show what has
// really arrived or been copied.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <cstdint>

// One file is worth this many steps on the progress bars: a transfer moves
// the per-file bar 0..kStepsPerFile and the total bar by as much.
constexpr int kStepsPerFile = 32;

class DownloadProgress {
 public:
  DownloadProgress(HWND fileBar, HWND totalBar)
      : fileBar_(fileBar), totalBar_(totalBar), on_(fileBar != nullptr && totalBar != nullptr) {
    if (!on_) return;
    SendMessageA(fileBar_, PBM_SETPOS, 0, 0);
    base_ = static_cast<DWORD>(SendMessageA(totalBar_, PBM_GETPOS, 0, 0));
  }
  void SetLength(uint64_t length) {
    step_ = length / kStepsPerFile;
    if (step_ == 0) step_ = 1;
  }
  // bytes: of the file so far.
  void Received(uint64_t bytes) {
    if (!on_) return;
    uint64_t pos = bytes / step_;
    if (pos > kStepsPerFile) pos = kStepsPerFile;
    if (pos == lastPos_) return;
    lastPos_ = pos;
    SendMessageA(fileBar_, PBM_SETPOS, static_cast<WPARAM>(pos), 0);
    SendMessageA(totalBar_, PBM_SETPOS, static_cast<WPARAM>(base_ + pos), 0);
  }

 private:
  HWND fileBar_;
  HWND totalBar_;
  bool on_;
  DWORD base_ = 0;
  uint64_t lastPos_ = 0;
  uint64_t step_ = 1;
};
