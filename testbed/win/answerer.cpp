// Message-box answerer: watches the top-level windows, records every message
// box that appears in boxes.jsonl and presses the button that the scenario
// asks for.
//
//   answerer [--answers first,cancel,...] [--hold-ms N] [--timeout-s N] [--watch TITLE]
//
// Two kinds of boxes are known:
//  - the updater's own box: a dialog with the buttons 1176 ("확인") and
//    1177 ("취소"); its window text is the caption, a line feed and the
//    message;
//  - the system message box (#32770 with the text control 0xFFFF): caption
//    from its window text, message from its static controls.
// Answers are taken in order, one per box; the last one repeats ("first" by
// default). "first" presses the first button (1176, or the system box's
// first push button), "cancel" presses 1177 or IDCANCEL, "none" leaves the
// box alone. Each box is recorded as soon as it is seen and pressed after
// --hold-ms (default 700), so that a screenshot can catch it. A record
// {"event":"ready"} says the answerer watches. It ends on WM_CLOSE to its
// hidden window ("tbctl quit") or after --timeout-s (default 300).
//
// --watch TITLE also follows the top-level windows with that title (the
// updater's main dialog): {"event":"window","title":T,"visible":"1"} when
// one becomes visible, "0" when it is hidden or gone; and every box record
// then says in "watched_visible" whether such a window was visible when the
// box was seen.
#include <windows.h>

#include <map>
#include <utility>
#include <set>
#include <string>
#include <vector>

#include "tbwin.h"

namespace {

constexpr int kFirstButton = 1176;
constexpr int kSecondButton = 1177;
constexpr int kSystemText = 0xFFFF;

struct Box {
  HWND hwnd;
  bool product;
  long long seenMs;
  std::string answer;
  bool done;
};

std::vector<std::string> g_answers{"first"};
size_t g_nextAnswer = 0;
int g_holdMs = 700;
std::set<HWND> g_known;
std::vector<Box> g_pending;
std::wstring g_watchTitle;
std::map<HWND, bool> g_watched;  // window -> visible at the last look

struct ChildTexts {
  std::wstring statics;
  std::vector<std::wstring> buttons;
  HWND firstButton = nullptr;
};

BOOL CALLBACK CollectChild(HWND child, LPARAM param) {
  auto* t = reinterpret_cast<ChildTexts*>(param);
  std::wstring cls = tbw::ClassName(child);
  std::wstring text = tbw::WindowText(child);
  if (lstrcmpiW(cls.c_str(), L"Static") == 0 && !text.empty()) {
    if (!t->statics.empty()) t->statics += L"\n";
    t->statics += text;
  } else if (lstrcmpiW(cls.c_str(), L"Button") == 0 && IsWindowVisible(child)) {
    LONG style = GetWindowLongW(child, GWL_STYLE) & 0x0F;
    if (style == BS_PUSHBUTTON || style == BS_DEFPUSHBUTTON || style == BS_OWNERDRAW) {
      t->buttons.push_back(text);
      if (!t->firstButton) t->firstButton = child;
    }
  }
  return TRUE;
}

std::string NextAnswer() {
  std::string a = g_answers[g_nextAnswer < g_answers.size() ? g_nextAnswer : g_answers.size() - 1];
  ++g_nextAnswer;
  return a;
}

bool AnyWatchedVisible() {
  for (const auto& w : g_watched)
    if (w.second) return true;
  return false;
}

BOOL CALLBACK CollectWatched(HWND hwnd, LPARAM param) {
  auto* seen = reinterpret_cast<std::map<HWND, bool>*>(param);
  if (tbw::WindowText(hwnd) == g_watchTitle) (*seen)[hwnd] = IsWindowVisible(hwnd) != FALSE;
  return TRUE;
}

void LogWatched(bool visible) {
  tbw::AppendLog(L"boxes.jsonl", tb::JsonRecord()
                                     .Add("event", "window")
                                     .Add("title", tbw::Utf8(g_watchTitle))
                                     .Add("visible", visible ? "1" : "0"));
}

// Records every change of the watched windows' visibility since the last look.
void UpdateWatched() {
  std::map<HWND, bool> now;
  EnumWindows(CollectWatched, reinterpret_cast<LPARAM>(&now));
  for (const auto& w : g_watched) {
    auto after = now.find(w.first);
    if (w.second && (after == now.end() || !after->second)) LogWatched(false);
  }
  for (const auto& w : now) {
    auto before = g_watched.find(w.first);
    if (w.second && (before == g_watched.end() || !before->second)) LogWatched(true);
  }
  g_watched = std::move(now);
}

BOOL CALLBACK Inspect(HWND hwnd, LPARAM) {
  if (g_known.count(hwnd) || !IsWindowVisible(hwnd)) return TRUE;
  if (tbw::ClassName(hwnd) != L"#32770") return TRUE;
  bool product = GetDlgItem(hwnd, kFirstButton) != nullptr;
  bool system = GetDlgItem(hwnd, kSystemText) != nullptr;
  if (!product && !system) return TRUE;  // some other dialog, such as the updater's main window
  g_known.insert(hwnd);

  ChildTexts children;
  EnumChildWindows(hwnd, CollectChild, reinterpret_cast<LPARAM>(&children));
  std::wstring windowText = tbw::WindowText(hwnd);
  std::string buttons;
  for (const auto& b : children.buttons) buttons += (buttons.empty() ? "" : "|") + tbw::Utf8(b);
  RECT r;
  GetWindowRect(hwnd, &r);
  Box box{hwnd, product, tbw::NowMs(), NextAnswer(), false};
  // The updater's box carries "caption\nmessage" as its window text.
  std::wstring caption = windowText, message = children.statics;
  if (product) {
    size_t lf = windowText.find(L'\n');
    caption = lf == std::wstring::npos ? std::wstring() : windowText.substr(0, lf);
    message = lf == std::wstring::npos ? windowText : windowText.substr(lf + 1);
  }
  tb::JsonRecord record;
  record.Add("event", "box")
      .Add("kind", product ? "product" : "system")
      .Add("window_text", tbw::Utf8(windowText))
      .Add("caption", tbw::Utf8(caption))
      .Add("text", tbw::Utf8(message))
      .Add("buttons", buttons)
      .Add("width", r.right - r.left)
      .Add("height", r.bottom - r.top)
      .Add("answer", box.answer);
  if (!g_watchTitle.empty()) {
    // Looked at afresh: the watched window may have come or gone since the
    // last timer tick.
    UpdateWatched();
    record.Add("watched_visible", AnyWatchedVisible() ? "1" : "0");
  }
  tbw::AppendLog(L"boxes.jsonl", record);
  g_pending.push_back(box);
  return TRUE;
}

void Press(Box& box) {
  box.done = true;
  if (!IsWindow(box.hwnd) || box.answer == "none") return;
  int id;
  if (box.answer == "cancel") {
    id = box.product ? kSecondButton : IDCANCEL;
  } else if (box.product) {
    id = kFirstButton;
  } else {
    ChildTexts children;
    EnumChildWindows(box.hwnd, CollectChild, reinterpret_cast<LPARAM>(&children));
    id = children.firstButton ? GetDlgCtrlID(children.firstButton) : IDOK;
  }
  HWND button = GetDlgItem(box.hwnd, id);
  PostMessageW(box.hwnd, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
  tbw::AppendLog(L"boxes.jsonl", tb::JsonRecord().Add("event", "pressed").Add("button", id));
}

LRESULT CALLBACK HiddenProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_TIMER) {
    if (!g_watchTitle.empty()) UpdateWatched();
    EnumWindows(Inspect, 0);
    long long now = tbw::NowMs();
    for (auto& b : g_pending) {
      if (!b.done && now - b.seenMs >= g_holdMs) Press(b);
    }
    return 0;
  }
  if (msg == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  int timeoutS = 300;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::wstring opt = argv[i];
    std::string value = tbw::Utf8(argv[i + 1]);
    if (opt == L"--answers") {
      g_answers.clear();
      size_t start = 0;
      while (start <= value.size()) {
        size_t comma = value.find(',', start);
        if (comma == std::string::npos) comma = value.size();
        if (comma > start) g_answers.push_back(value.substr(start, comma - start));
        start = comma + 1;
      }
      if (g_answers.empty()) g_answers.push_back("first");
    } else if (opt == L"--hold-ms") {
      g_holdMs = atoi(value.c_str());
    } else if (opt == L"--timeout-s") {
      timeoutS = atoi(value.c_str());
    } else if (opt == L"--watch") {
      g_watchTitle = argv[i + 1];
    }
  }
  WNDCLASSW wc = {};
  wc.lpfnWndProc = HiddenProc;
  wc.hInstance = instance;
  wc.lpszClassName = L"UlmetTestbedAnswerer";
  RegisterClassW(&wc);
  HWND hwnd = CreateWindowW(wc.lpszClassName, L"answerer", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                            instance, nullptr);
  if (!hwnd) return 1;
  SetTimer(hwnd, 1, 50, nullptr);
  tbw::AppendLog(L"boxes.jsonl", tb::JsonRecord().Add("event", "ready"));
  long long end = tbw::NowMs() + timeoutS * 1000LL;
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    DispatchMessageW(&msg);
    if (tbw::NowMs() > end) DestroyWindow(hwnd);
  }
  return 0;
}
