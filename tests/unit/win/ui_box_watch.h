// Finds the first visible dialog window (class "#32770") of this process
// that appears while a test shows one modally, lets the test look at it from
// the watching thread, then answers it. Used where the code under test shows
// a box and waits for it.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

class BoxWatch {
 public:
  // answerCommand: the control id whose click is sent; 0 sends WM_CLOSE,
  // -1 the Escape key.
  explicit BoxWatch(int answerCommand, std::function<void(HWND)> inspect = nullptr,
                    HWND ignore = nullptr)
      : answer_(answerCommand), inspect_(std::move(inspect)), ignore_(ignore) {
    thread_ = std::thread([this] { Run(); });
  }
  ~BoxWatch() { Join(); }
  BoxWatch(const BoxWatch&) = delete;
  BoxWatch& operator=(const BoxWatch&) = delete;

  void Join() {
    if (thread_.joinable()) thread_.join();
  }
  // Stops looking (a test that expects no box ends its wait here).
  void Stop() { stopped_ = true; }
  bool Found() const { return found_.load(); }
  const std::wstring& Text() const { return text_; }

 private:
  struct Search {
    HWND ignore;
    HWND found;
  };

  static BOOL CALLBACK Visit(HWND hwnd, LPARAM lp) {
    Search* s = reinterpret_cast<Search*>(lp);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    char cls[32] = {0};
    GetClassNameA(hwnd, cls, sizeof(cls));
    if (pid == GetCurrentProcessId() && hwnd != s->ignore && IsWindowVisible(hwnd) &&
        std::string(cls) == "#32770") {
      s->found = hwnd;
      return FALSE;
    }
    return TRUE;
  }

  void Run() {
    for (int i = 0; i < 500 && !stopped_; ++i) {  // up to 10 s
      Search s{ignore_, nullptr};
      EnumWindows(&BoxWatch::Visit, reinterpret_cast<LPARAM>(&s));
      if (s.found != nullptr) {
        Sleep(300);  // let it paint
        wchar_t text[2048] = {0};
        GetWindowTextW(s.found, text, 2048);
        text_ = text;
        if (inspect_) inspect_(s.found);
        found_ = true;
        if (answer_ == 0) {
          PostMessageW(s.found, WM_CLOSE, 0, 0);
        } else if (answer_ < 0) {
          PostMessageW(s.found, WM_KEYDOWN, VK_ESCAPE, 0);
          PostMessageW(s.found, WM_KEYUP, VK_ESCAPE, 0);
        } else {
          PostMessageW(s.found, WM_COMMAND, MAKEWPARAM(answer_, BN_CLICKED),
                       reinterpret_cast<LPARAM>(GetDlgItem(s.found, answer_)));
        }
        return;
      }
      Sleep(20);
    }
  }

  int answer_;
  std::function<void(HWND)> inspect_;
  HWND ignore_;
  std::thread thread_;
  std::atomic<bool> found_{false};
  std::atomic<bool> stopped_{false};
  std::wstring text_;
};
