#include "run/release_refusal.h"

#include "formats/base/bounded.h"
#include "common/trace.h"
#include "formats/trust/release_check.h"
#include "ui/general_msg_dlg.h"
#include "ui/message_box.h"

namespace {
const char kRefused[] =
    "서명이 확인되지 않은 업데이트 정보를 받아 업데이트를 중단합니다.(code-SG%02d)\n잠시 후 다시 "
    "실행해 주시기 바랍니다.";
// Trying again cannot help where the system has no signature checks.
const char kNoCrypto[] =
    "이 컴퓨터에서는 업데이트 파일의 서명을 확인할 수 없어 업데이트를 중단합니다.(code-SG%02d)\n"
    "울메 홈페이지의 안내를 확인해 주시기 바랍니다.";
}  // namespace

void ShowReleaseRefusal(int code) {
  char text[ul::kTextCap];
  ul::Format(text, code == ul::kReleaseNoCrypto ? kNoCrypto : kRefused, code);
  DebugTrace("Release check refused the run (code-SG%02d)", code);
  ShowMessageBox(ul::kBoxError, text);
}
