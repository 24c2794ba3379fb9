// The updater's application object: owns the run's configuration and the
// status text that workers write and the main dialog shows.
#pragma once

#include <memory>
#include <string>

#include "config/update_config.h"
#include "framework/framework.h"

class CULPatchwellApp : public CWinApp {
 public:
  // releaseKey: the public key line of the release key that every run
  // checks the server's files against, or "" for a build without one.
  explicit CULPatchwellApp(const char* releaseKey = "") : releaseKey_(releaseKey) {}
  ~CULPatchwellApp() override;

  // The whole run: launch check, configuration, then the progress dialog.
  // Always FALSE: the program never enters a message loop of its own.
  BOOL InitInstance() override;

  // Null until InitInstance has created it (or a test has lent its own).
  UpdateConfig* GetConfig() const { return config_; }

  // Any thread may call these; the lock keeps a replacement and a copy from
  // overlapping.
  void SetStatusText(const std::string& text);
  std::string GetStatusText();

 protected:
  // For tests: the run's steps use config, which the caller keeps owning
  // and must keep alive as long as this object uses it.
  void LendConfig(UpdateConfig* config) { config_ = config; }

 private:
  // A start-up reading failed: the box of the release check's refusal, if
  // it was one. FALSE.
  BOOL EndStart();

  const char* releaseKey_;
  std::unique_ptr<UpdateConfig> ownedConfig_;
  UpdateConfig* config_ = nullptr;  // ownedConfig_, or the one a test lent

  CCriticalSection statusLock_;
  std::string statusText_;
};

CULPatchwellApp* GetTheApp();

// Replaces the status text that the main dialog shows (any thread; nothing
// happens before the application object exists).
void SetStatus(const char* text);
