// The updater's application object: owns the run's configuration and the
// status text that workers write and the main dialog shows.
#pragma once

#include <string>

#include "framework/framework.h"

class CULPatchwellApp : public CWinApp {
 public:
  CULPatchwellApp() = default;
  ~CULPatchwellApp() override = default;

  BOOL InitInstance() override;

  // Any thread may call these; the lock keeps a replacement and a copy from
  // overlapping.
  void SetStatusText(const std::string& text);
  std::string GetStatusText();

 private:
  CCriticalSection statusLock_;
  std::string statusText_;
};

CULPatchwellApp* GetTheApp();
