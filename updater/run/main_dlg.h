// The progress dialog: status line, per-file and total bars, animation. Its
// initialisation runs the update sequence; its 100 ms timer notices the end
// of the worker and starts the next program.
#pragma once

#include <windows.h>

#include <string>

#include "formats/base/owned_win.h"
#include "formats/lists/update_list.h"
#include "framework/framework.h"
#include "net/held_file_win.h"
#include "run/verified_files.h"

class UpdateConfig;

// Threads: everything here runs on the user-interface thread, but for what
// the worker procedures below use: the bars (PerFileBar, TotalBar, reached
// only by SendMessageA), CloseRequest (a sent WM_CLOSE), ReplaceSelf and
// WriteAppVersion, and updateList, which nothing changes while a worker runs.
class CULPatchwellDlg : public CDialog {
 public:
  enum { IDD = 102 };
  // Timer 1 refreshes the status line and notices the worker's end; timer 2
  // turns the animation.
  static constexpr UINT_PTR kStatusTimer = 1;
  static constexpr UINT kStatusPeriod = 100;  // ms
  static constexpr UINT_PTR kAnimationTimer = 2;
  static constexpr UINT kAnimationPeriod = 350;  // ms

  explicit CULPatchwellDlg(HWND parent = nullptr);
  ~CULPatchwellDlg() override;

  // The update sequence and its steps (run/sequence.cpp, run/first_run.cpp).
  // User-interface thread, inside the dialog's initialisation.
  void RunUpdateSequence();
  int CheckFirstRun();
  bool ReadUpdateList();
  int RemovePreviousVersion();  // removal/previous_version_win.h does the work

  // Starts proc on a worker thread with this dialog as its parameter; when
  // the thread cannot start, the error box with its "code-TH" number and
  // the close request. User-interface thread.
  bool StartWorker(AFX_THREADPROC proc, int errorCode);

  // File update execution (run/worker.cpp). RemoveLeftovers and
  // StartRedownload: user-interface thread; WriteAppVersion: either thread.
  bool RemoveLeftovers();
  bool WriteAppVersion();
  void StartRedownload();
  // The comparison of the installed files with the hash list
  // (run/digest_pass.cpp), on the user-interface thread. It handles the
  // thread's messages while it reads; when the dialog ends meanwhile (a
  // close request) it stops, and Ended() tells the caller.
  int CheckInstalledFiles();

  // Launch of the next program (user-interface thread) and the
  // self-replacement (worker thread) (run/launch.cpp). A launch step asked
  // for while one runs (timer 1 during the comparison) does nothing.
  bool LaunchProgram();
  bool ReplaceSelf();
  bool LaunchStepRunning() const { return launchStepRunning_; }

  // The close request that ends every run (either thread).
  void CloseRequest();

  void DrawAnimation();

  HWND PerFileBar() const { return perFileBar_; }
  HWND TotalBar() const { return totalBar_; }
  HWND Window() const { return m_hWnd; }

  UpdateFileList updateList;
  // The full installer, held from before its check until the launch step
  // has started it (see ul::HeldFile): opened by the worker before it sets
  // updateFinished, closed by the launch step (or with the dialog).
  ul::HeldFile heldInstaller;

  // The verified-state record: loaded by the comparison, then used by the
  // re-download worker (never both at once).
  VerifiedFiles verifiedFiles;

 protected:
  // The dialog's own messages: user-interface thread.
  BOOL OnInitDialog() override;
  void DoDataExchange(bool save) override;
  bool OnMessage(UINT msg, WPARAM wp, LPARAM lp, INT_PTR& result) override;

 private:
  void OnSysCommand(UINT id);
  void OnPaint();
  void OnTimer(UINT_PTR id);

  ul::Bitmap frames_[6];
  int animationFrame_ = 0;
  HWND totalBar_ = nullptr;
  HWND statusControl_ = nullptr;
  HWND perFileBar_ = nullptr;
  std::string status_;
  HICON icon_ = nullptr;
  bool launchStepRunning_ = false;
};

// Worker thread procedures (run/worker.cpp); the parameter is the dialog.
UINT UpdateWorkerProc(LPVOID dialog);
UINT RedownloadWorkerProc(LPVOID dialog);
