// The updater's application object: owns the run's configuration and the
// status text that workers write and the main dialog shows.
#pragma once

#include <string>

#include "framework/framework.h"

class UpdateConfig;

class CULPatchwellApp : public CWinApp {
 public:
  CULPatchwellApp() = default;
  ~CULPatchwellApp() override;

  // The whole run: launch check, configuration, then the progress dialog.
  // Always FALSE: the program never enters a message loop of its own.
  BOOL InitInstance() override;

  // Null until InitInstance has created it.
  UpdateConfig* GetConfig() const { return config_; }

  // Any thread may call these; the lock keeps a replacement and a copy from
  // overlapping.
  void SetStatusText(const std::string& text);
  std::string GetStatusText();

 protected:
  UpdateConfig* config_ = nullptr;  // owned

 private:
  CCriticalSection statusLock_;
  std::string statusText_;
};

CULPatchwellApp* GetTheApp();
