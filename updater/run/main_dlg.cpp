#include "run/main_dlg.h"

#include <commctrl.h>

#include "formats/base/owned_win.h"
#include "config/update_config.h"
#include "res/resource.h"
#include "net/http_downloader_win.h"
#include "run/app.h"

namespace {
const int kFrameCount = 6;
const int kFrameWidth = 140;
const int kFrameHeight = 65;
const int kAnimationX = 130;  // pixels, not dialog units
const int kAnimationY = 10;
// Frames 0-4, then frame 5.
const UINT kFrameIds[kFrameCount] = {IDB_ANIM_FRAME0, IDB_ANIM_FRAME1, IDB_ANIM_FRAME2,
                                     IDB_ANIM_FRAME3, IDB_ANIM_FRAME4, IDB_ANIM_FRAME5};
const char kStartText[] = "울메 버전 확인 및 파일을 업데이트 합니다.";
// What the status control's template says until the first refresh.
const char kTemplateStatus[] = "파일을\r\n다운로드중...";
}  // namespace

CULPatchwellDlg::CULPatchwellDlg(HWND parent) : CDialog(IDD, parent), status_(kTemplateStatus) {
  icon_ = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MAINFRAME));
}

CULPatchwellDlg::~CULPatchwellDlg() = default;

void CULPatchwellDlg::CloseRequest() {
  if (m_hWnd != nullptr) SendMessageA(m_hWnd, WM_CLOSE, 0, 0);
}

void CULPatchwellDlg::DoDataExchange(bool save) {
  totalBar_ = GetDlgItem(IDC_TOTAL_PROGRESS);
  statusControl_ = GetDlgItem(IDC_STATUS_TEXT);
  perFileBar_ = GetDlgItem(IDC_FILE_PROGRESS);
  DDX_Text(m_hWnd, IDC_STATUS_TEXT, status_, save);
}

BOOL CULPatchwellDlg::OnInitDialog() {
  CWinApp* app = AfxGetApp();
  if (app != nullptr) app->m_pMainWnd = m_hWnd;

  HMENU systemMenu = GetSystemMenu(m_hWnd, FALSE);
  if (systemMenu != nullptr) {
    char aboutText[256] = {0};
    LoadStringA(GetModuleHandleA(nullptr), IDS_ABOUTBOX, aboutText, sizeof(aboutText));
    if (aboutText[0] != '\0') {
      AppendMenuA(systemMenu, MF_SEPARATOR, 0, nullptr);
      AppendMenuA(systemMenu, MF_STRING, IDM_ABOUTBOX, aboutText);
    }
  }

  SendMessageA(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
  SendMessageA(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));

  for (int i = 0; i < kFrameCount; ++i) {
    frames_[i].Reset(LoadBitmapA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(kFrameIds[i])));
  }
  animationFrame_ = 0;

  SetTimer(m_hWnd, kAnimationTimer, kAnimationPeriod, nullptr);
  SetTimer(m_hWnd, kStatusTimer, kStatusPeriod, nullptr);

  CULPatchwellApp* theApp = GetTheApp();
  if (theApp != nullptr) theApp->SetStatusText(kStartText);

  SendMessageA(perFileBar_, PBM_SETRANGE, 0, MAKELPARAM(0, kStepsPerFile));
  SendMessageA(totalBar_, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
  SendMessageA(perFileBar_, PBM_SETPOS, 0, 0);
  SendMessageA(totalBar_, PBM_SETPOS, 0, 0);

  // Runs before the dialog is first shown: any box it shows comes first,
  // and a close request from it ends the dialog unseen.
  RunUpdateSequence();
  return TRUE;
}

bool CULPatchwellDlg::OnMessage(UINT msg, WPARAM wp, LPARAM /*lp*/, INT_PTR& result) {
  switch (msg) {
    case WM_SYSCOMMAND:
      if ((wp & 0xFFF0) != IDM_ABOUTBOX) return false;  // the default handling
      OnSysCommand(static_cast<UINT>(wp));
      result = 0;
      return true;
    case WM_PAINT:
      OnPaint();
      result = 0;
      return true;
    case WM_QUERYDRAGICON:
      result = reinterpret_cast<INT_PTR>(icon_);
      return true;
    case WM_TIMER:
      OnTimer(wp);
      return false;  // and the default handling
  }
  return false;
}

void CULPatchwellDlg::OnSysCommand(UINT id) {
  // The about item of the system menu; a worker goes on behind the box.
  if ((id & 0xFFF0) != IDM_ABOUTBOX) return;
  CDialog about(IDD_ABOUTBOX, m_hWnd);
  about.DoModal();
}

void CULPatchwellDlg::OnPaint() {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(m_hWnd, &ps);
  if (IsIconic(m_hWnd) && dc != nullptr) {
    SendMessageA(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    const int cx = GetSystemMetrics(SM_CXICON);
    const int cy = GetSystemMetrics(SM_CYICON);
    RECT r;
    GetClientRect(m_hWnd, &r);
    const int x = (r.right - r.left - cx + 1) / 2;
    const int y = (r.bottom - r.top - cy + 1) / 2;
    DrawIcon(dc, x, y, icon_);
  }
  EndPaint(m_hWnd, &ps);
  DrawAnimation();
}

void CULPatchwellDlg::OnTimer(UINT_PTR id) {
  if (id == kStatusTimer) {
    CULPatchwellApp* app = GetTheApp();
    if (statusControl_ != nullptr && IsWindow(statusControl_) && app != nullptr) {
      status_ = app->GetStatusText();
    }
    UpdateData(FALSE);
    UpdateConfig* config = GetConfig();
    // While the launch step compares the files, its messages (this tick
    // among them) are handled inside it: the finish check waits for it.
    if (config != nullptr && config->updateFinished && !launchStepRunning_) {
      KillTimer(m_hWnd, kStatusTimer);
      LaunchProgram();  // may start the timer again for a re-download
    }
  } else if (id == kAnimationTimer) {
    if (++animationFrame_ >= kFrameCount) animationFrame_ = 0;
    DrawAnimation();
  }
}

void CULPatchwellDlg::DrawAnimation() {
  if (m_hWnd == nullptr) return;
  ul::WindowDc dc(m_hWnd);
  if (dc.Get() == nullptr) return;
  if (animationFrame_ < 0 || animationFrame_ >= kFrameCount) animationFrame_ = 0;
  if (!frames_[animationFrame_]) return;
  // The frame is composed off screen first, then copied in one piece.
  ul::MemoryDc composed(CreateCompatibleDC(dc.Get()));
  ul::MemoryDc frame(CreateCompatibleDC(dc.Get()));
  ul::Bitmap canvas(CreateCompatibleBitmap(dc.Get(), kFrameWidth, kFrameHeight));
  ul::Selection canvasSelected(composed.Get(), canvas.Get());
  ul::Selection frameSelected(frame.Get(), frames_[animationFrame_].Get());
  SetBkMode(composed.Get(), TRANSPARENT);
  BitBlt(composed.Get(), 0, 0, kFrameWidth, kFrameHeight, frame.Get(), 0, 0, SRCCOPY);
  BitBlt(dc.Get(), kAnimationX, kAnimationY, kFrameWidth, kFrameHeight, composed.Get(), 0, 0,
         SRCCOPY);
}
