// The launch-route check: the product's web page starts the updater with one
// argument of form-feed-separated fields, "5001", the launch kind and, for
// some kinds, a token.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/trace.h"
#include "config/update_config.h"
#include "run/app.h"
#include "run/launch_info.h"
#include "ui/general_msg_dlg.h"
#include "ui/message_box.h"

namespace {

const char kCheckingText[] = "\n프로그램 실행정보를 확인중 입니다.";
const char kWrongRouteText[] =
    "비정상적인 경로를 통해 울메가 실행되었습니다.\n울메 홈페이지에서 다시 실행해 주시기 바랍니다.";
const char kDefaultArgument[] = "5001\f6";
const int kLaunchMagic = 5001;
const size_t kTokenChars = 32;

// Fields separated by form feeds; consecutive form feeds are one separator,
// so there are no empty fields.
std::vector<std::string> SplitFields(const char* text) {
  std::vector<std::string> fields;
  const char* p = text;
  while (*p != '\0') {
    while (*p == '\f') ++p;
    if (*p == '\0') break;
    const char* start = p;
    while (*p != '\0' && *p != '\f') ++p;
    fields.emplace_back(start, static_cast<size_t>(p - start));
  }
  return fields;
}

// A field's number as atoi reads it (leading blanks, sign, digits up to the
// first other character), held within int so that a very long digit run
// cannot overflow.
int FieldNumber(const std::string& field) {
  long v = std::strtol(field.c_str(), nullptr, 10);
  if (v > 2147483647L) v = 2147483647L;
  if (v < -2147483647L - 1) v = -2147483647L - 1;
  return static_cast<int>(v);
}


}  // namespace

int CheckLaunchInfo(UpdateConfig& config, int argc, char** argv) {
  SetStatus(kCheckingText);

  if (argc <= 1 || argv == nullptr) {
    config.launchKind = 6;
    ul::Copy(config.launchArgument, kDefaultArgument);
    return 0;
  }
  if (argc > 2) {
    DebugTrace("CheckLaunchInfo: %d arguments", argc - 1);
    ShowMessageBox(ul::kBoxError, kWrongRouteText);
    return 1;
  }

  const char* argument = argv[1] != nullptr ? argv[1] : "";
  ul::Copy(config.launchArgument, argument);

  // The argument is handed on in double quotes on the command line of every
  // program the run starts; a quote inside it would end that quoting and
  // let the page add arguments of its own.
  if (std::strchr(argument, '"') != nullptr) {
    DebugTrace("CheckLaunchInfo: double quote in the argument");
    return 1;
  }

  // The check reads the whole argument, not the stored copy.
  std::vector<std::string> fields = SplitFields(argument);
  if (fields.empty()) return 2;
  if (FieldNumber(fields[0]) != kLaunchMagic) return 1;
  if (fields.size() < 2) return 2;
  int kind = FieldNumber(fields[1]);
  if (kind < 1 || kind > 6) return 1;
  config.launchKind = kind;
  if (kind == 1 || kind == 3 || kind == 4) {
    if (fields.size() < 3) return 2;
    ul::Copy(config.launchToken, fields[2].substr(0, kTokenChars).c_str());
  }
  return 0;
}
