#include "run/app.h"

#include "common/trace.h"

CULPatchwellApp* GetTheApp() { return static_cast<CULPatchwellApp*>(AfxGetApp()); }

void CULPatchwellApp::SetStatusText(const std::string& text) {
  CSingleLock lock(statusLock_);
  statusText_ = text;
}

std::string CULPatchwellApp::GetStatusText() {
  CSingleLock lock(statusLock_);
  return statusText_;
}

BOOL CULPatchwellApp::InitInstance() {
  DebugTrace("ULPatchwell start, %d argument(s)", m_argc - 1);
  return FALSE;
}
