// A small stand-in for the parts of a Windows dialog framework that the
// updater uses: one application object whose start-up hook does all the work,
// a modal dialog base that dispatches window messages to virtual handlers,
// text binding for static controls, worker-thread start and a lock.
// Only what the updater needs; nothing more.
#pragma once

#include <windows.h>

#include <string>

// The process's one application object. Its constructor registers it; the
// program's entry point calls InitInstance and, only when that returns TRUE,
// runs a message loop (the updater never does).
class CWinApp {
 public:
  CWinApp();
  virtual ~CWinApp();
  CWinApp(const CWinApp&) = delete;
  CWinApp& operator=(const CWinApp&) = delete;

  virtual BOOL InitInstance() { return FALSE; }
  virtual int ExitInstance() { return 0; }

  HINSTANCE m_hInstance = nullptr;
  HWND m_pMainWnd = nullptr;  // the main dialog while it is shown
  int m_argc = 0;             // arguments as the C runtime split them
  char** m_argv = nullptr;
};

CWinApp* AfxGetApp();

// Runs the registered application object: the body of WinMain.
int AfxRunApp(HINSTANCE instance);

// Modal dialog from a resource template of the running module.
class CDialog {
 public:
  explicit CDialog(UINT templateId, HWND parent = nullptr);
  virtual ~CDialog() = default;
  CDialog(const CDialog&) = delete;
  CDialog& operator=(const CDialog&) = delete;

  // Runs the dialog until EndDialog; returns its result, or -1 when the
  // dialog could not be created.
  INT_PTR DoModal();
  void EndDialog(INT_PTR result);

  HWND GetSafeHwnd() const { return m_hWnd; }
  HWND GetDlgItem(int id) const { return m_hWnd ? ::GetDlgItem(m_hWnd, id) : nullptr; }

  // Moves bound data into the controls (save = false) or back (save = true).
  BOOL UpdateData(BOOL save = TRUE);

  // For a long step that a handler of this dialog runs on the user-interface
  // thread: handles the messages waiting for the thread the way the modal
  // loop would (keys through the dialog, the rest to the window procedures),
  // so that the dialog answers, paints, ticks and can be closed meanwhile.
  // False once the dialog has ended (a close request, the user, a handler).
  bool PumpMessages();
  bool Ended() const { return m_ended || m_hWnd == nullptr; }
  // Puts a dialog that is still hidden inside its initialisation on screen
  // now, centred as it would be afterwards.
  void ShowNow();

 protected:
  virtual BOOL OnInitDialog() { return TRUE; }
  virtual void DoDataExchange(bool /*save*/) {}
  virtual void OnOK() { EndDialog(IDOK); }
  virtual void OnCancel() { EndDialog(IDCANCEL); }
  // Window messages other than WM_INITDIALOG and the OK/Cancel commands.
  // Return true when handled; result is then the dialog procedure's answer.
  virtual bool OnMessage(UINT /*msg*/, WPARAM /*wp*/, LPARAM /*lp*/, INT_PTR& /*result*/) {
    return false;
  }

  HWND m_hWnd = nullptr;
  UINT m_templateId;
  HWND m_parent;

 private:
  bool m_ended = false;  // EndDialog was called: never show the window again
  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  static INT_PTR InitialiseDialog(CDialog* self, HWND hwnd);
  static INT_PTR DefaultHandling(CDialog* self, UINT msg, WPARAM wp, LPARAM lp);
};

// Owner-drawn controls get their WM_DRAWITEM back from the dialog as this
// message (same wParam and lParam) and answer nonzero when they drew.
constexpr UINT kReflectedDrawItem = 0x2000 + WM_DRAWITEM;

// Text binding of one control to an ANSI string (static controls, edits).
void DDX_Text(HWND dialog, int id, std::string& value, bool save);

// Starts proc(param) on a new thread at normal priority with the default
// stack. The thread handle is not kept. False when the thread cannot start.
typedef UINT (*AFX_THREADPROC)(LPVOID);
bool AfxBeginThread(AFX_THREADPROC proc, LPVOID param);

// A lock for data shared between the user-interface thread and a worker.
class CCriticalSection {
 public:
  CCriticalSection() { InitializeCriticalSection(&cs_); }
  ~CCriticalSection() { DeleteCriticalSection(&cs_); }
  CCriticalSection(const CCriticalSection&) = delete;
  CCriticalSection& operator=(const CCriticalSection&) = delete;
  void Lock() { EnterCriticalSection(&cs_); }
  void Unlock() { LeaveCriticalSection(&cs_); }

 private:
  CRITICAL_SECTION cs_;
};

class CSingleLock {
 public:
  explicit CSingleLock(CCriticalSection& cs) : cs_(cs) { cs_.Lock(); }
  ~CSingleLock() { cs_.Unlock(); }
  CSingleLock(const CSingleLock&) = delete;
  CSingleLock& operator=(const CSingleLock&) = delete;

 private:
  CCriticalSection& cs_;
};
