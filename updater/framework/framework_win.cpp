#include "formats/base/owned_win.h"
#include "framework/framework.h"

#include <commctrl.h>

#include <cstdlib>
#include <vector>

namespace {
CWinApp* g_app = nullptr;

struct ThreadStart {
  AFX_THREADPROC proc;
  LPVOID param;
};

DWORD WINAPI ThreadTrampoline(LPVOID p) {
  ThreadStart start = *static_cast<ThreadStart*>(p);
  delete static_cast<ThreadStart*>(p);
  return start.proc(start.param);
}
void CenterDialog(HWND hwnd) {
  RECT box, area;
  GetWindowRect(hwnd, &box);
  HWND owner = GetWindow(hwnd, GW_OWNER);
  if (owner == nullptr || !IsWindowVisible(owner) || IsIconic(owner)) {
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
  } else {
    GetWindowRect(owner, &area);
  }
  int x = area.left + ((area.right - area.left) - (box.right - box.left)) / 2;
  int y = area.top + ((area.bottom - area.top) - (box.bottom - box.top)) / 2;
  SetWindowPos(hwnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}
}  // namespace

CWinApp::CWinApp() { g_app = this; }

CWinApp::~CWinApp() {
  if (g_app == this) g_app = nullptr;
}

CWinApp* AfxGetApp() { return g_app; }

int AfxRunApp(HINSTANCE instance) {
  CWinApp* app = AfxGetApp();
  if (app == nullptr) return 1;
  app->m_hInstance = instance;
  app->m_argc = __argc;
  app->m_argv = __argv;

  INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&icc);

  if (app->InitInstance()) {
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }
  return app->ExitInstance();
}

CDialog::CDialog(UINT templateId, HWND parent) : m_templateId(templateId), m_parent(parent) {}

INT_PTR CDialog::DoModal() {
  m_ended = false;
  return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(m_templateId), m_parent,
                         &CDialog::DialogProc, reinterpret_cast<LPARAM>(this));
}

void CDialog::EndDialog(INT_PTR result) {
  if (!m_hWnd) return;
  m_ended = true;
  ::EndDialog(m_hWnd, result);
}

BOOL CDialog::UpdateData(BOOL save) {
  if (!m_hWnd) return FALSE;
  DoDataExchange(save != FALSE);
  return TRUE;
}

bool CDialog::PumpMessages() {
  MSG msg;
  // A bounded number each time: a message that keeps coming back (a paint
  // that nobody validates) cannot hold the caller here.
  for (int i = 0; i < 64 && !Ended() && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE); ++i) {
    if (msg.message == WM_QUIT) {
      // As the modal loop does: the dialog ends and the quit goes on to the
      // loop outside it.
      PostQuitMessage(static_cast<int>(msg.wParam));
      EndDialog(IDCANCEL);
      break;
    }
    if (m_hWnd != nullptr && IsDialogMessageA(m_hWnd, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return !Ended();
}

void CDialog::ShowNow() {
  if (Ended() || IsWindowVisible(m_hWnd)) return;
  CenterDialog(m_hWnd);
  ShowWindow(m_hWnd, SW_SHOW);
  UpdateWindow(m_hWnd);
}

// WM_INITDIALOG: the object meets its window, the data goes in and the
// dialog's own initialisation runs.
INT_PTR CDialog::InitialiseDialog(CDialog* self, HWND hwnd) {
  RECT before;
  GetWindowRect(hwnd, &before);
  self->UpdateData(FALSE);
  BOOL focusDefault = self->OnInitDialog();
  // A dialog that its initialisation did not move is centred over its
  // owner, or on the screen when it has none.
  RECT after;
  if (self->m_hWnd == hwnd && GetWindowRect(hwnd, &after) && after.left == before.left &&
      after.top == before.top) {
    CenterDialog(hwnd);
  }
  return focusDefault;
}

// What the framework does with a message that the dialog left alone: owner
// drawing reflected to the control, OK, Cancel and the close box.
INT_PTR CDialog::DefaultHandling(CDialog* self, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_DRAWITEM: {
      // A control that paints itself is asked first.
      const DRAWITEMSTRUCT* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lp);
      return item != nullptr && item->CtlType != ODT_MENU && item->hwndItem != nullptr &&
             SendMessageA(item->hwndItem, kReflectedDrawItem, wp, lp) != 0;
    }
    case WM_COMMAND:
      if (LOWORD(wp) == IDOK) {
        self->OnOK();
        return TRUE;
      }
      if (LOWORD(wp) == IDCANCEL) {
        self->OnCancel();
        return TRUE;
      }
      return FALSE;
    case WM_CLOSE:
      self->OnCancel();
      return TRUE;
    case WM_NCDESTROY:
      self->m_hWnd = nullptr;
      return FALSE;
  }
  return FALSE;
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  CDialog* self;
  if (msg == WM_INITDIALOG) {
    self = reinterpret_cast<CDialog*>(lp);
    SetWindowLongPtrA(hwnd, DWLP_USER, lp);
    self->m_hWnd = hwnd;
    return InitialiseDialog(self, hwnd);
  }
  self = reinterpret_cast<CDialog*>(GetWindowLongPtrA(hwnd, DWLP_USER));
  if (self == nullptr) return FALSE;

  // A dialog ended inside its initialisation would still be shown by the
  // dialog manager (its template says visible) before the modal loop notices
  // the end: a flash of a window that does nothing. Once ended it stays
  // hidden.
  if (msg == WM_WINDOWPOSCHANGING && self->m_ended)
    reinterpret_cast<WINDOWPOS*>(lp)->flags &= ~SWP_SHOWWINDOW;

  INT_PTR result = 0;
  if (self->OnMessage(msg, wp, lp, result)) {
    SetWindowLongPtrA(hwnd, DWLP_MSGRESULT, result);
    return msg == WM_CTLCOLORDLG || msg == WM_CTLCOLORSTATIC || msg == WM_CTLCOLORBTN ||
                   msg == WM_QUERYDRAGICON
               ? result
               : TRUE;
  }
  return DefaultHandling(self, msg, wp, lp);
}

void DDX_Text(HWND dialog, int id, std::string& value, bool save) {
  HWND control = GetDlgItem(dialog, id);
  if (control == nullptr) return;
  if (save) {
    int n = GetWindowTextLengthA(control);
    std::vector<char> buf(static_cast<size_t>(n) + 1);
    GetWindowTextA(control, buf.data(), n + 1);
    value.assign(buf.data());
  } else {
    SetWindowTextA(control, value.c_str());
  }
}

bool AfxBeginThread(AFX_THREADPROC proc, LPVOID param) {
  ThreadStart* start = new ThreadStart{proc, param};
  // The thread runs on alone: its handle is not needed.
  ul::Handle thread(CreateThread(nullptr, 0, ThreadTrampoline, start, 0, nullptr));
  if (!thread) {
    delete start;
    return false;
  }
  return true;
}
