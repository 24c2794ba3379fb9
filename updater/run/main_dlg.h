// The progress dialog: status line, per-file and total bars, animation. Its
// initialisation runs the update sequence; its 100 ms timer notices the end
// of the worker and starts the next program.
#pragma once

#include <windows.h>

#include <string>

#include "config/update_list.h"
#include "framework/framework.h"

class UpdateConfig;

class CULPatchwellDlg : public CDialog {
 public:
  enum { IDD = 102 };
  explicit CULPatchwellDlg(HWND parent = nullptr);
  ~CULPatchwellDlg() override;

  // The update sequence and its steps (run/sequence.cpp, run/first_run.cpp).
  void RunUpdateSequence();
  int CheckFirstRun();
  bool ReadUpdateList();

  // File update execution (run/worker.cpp).
  bool RemoveLeftovers();
  bool WriteAppVersion();
  int CheckInstalledFiles();
  void StartRedownload();

  // Removal of an earlier major version (removal/previous_version_win.h).
  int RemovePreviousVersion();

  // Launch of the next program and self-replacement (run/launch.cpp).
  bool LaunchProgram();
  bool ReplaceSelf();

  // The close request that ends every run.
  void CloseRequest();

  void DrawAnimation();

  HWND PerFileBar() const { return perFileBar_; }
  HWND TotalBar() const { return totalBar_; }
  HWND Window() const { return m_hWnd; }

  UpdateFileList updateList;

 protected:
  BOOL OnInitDialog() override;
  void DoDataExchange(bool save) override;
  bool OnMessage(UINT msg, WPARAM wp, LPARAM lp, INT_PTR& result) override;

 private:
  void OnSysCommand(UINT id, LPARAM lp);
  void OnPaint();
  void OnTimer(UINT_PTR id);

  HBITMAP frames_[6] = {nullptr};
  int animationFrame_ = 0;
  HWND totalBar_ = nullptr;
  HWND statusControl_ = nullptr;
  HWND perFileBar_ = nullptr;
  std::string status_;
  HICON icon_ = nullptr;
};

// Worker thread procedures; the parameter is the dialog.
UINT UpdateWorkerProc(LPVOID dialog);
UINT RedownloadWorkerProc(LPVOID dialog);
