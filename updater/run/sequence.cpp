// The update sequence: the decision spine of a run.
#include "run/main_dlg.h"

#include "common/trace.h"

void CULPatchwellDlg::RunUpdateSequence() {
  // The configuration readers and the update list are being wired in; until
  // then a run ends here with the close request.
  DebugTrace("RunUpdateSequence: not wired yet");
  CloseRequest();
}
