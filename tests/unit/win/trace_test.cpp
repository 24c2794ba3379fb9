#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "common/trace.h"

namespace {

// OutputDebugStringA hands its text to a debugger through the
// DBG_PRINTEXCEPTION_C exception; a vectored handler sees the whole text
// before Wine's channel shortens it for display.
std::string g_seen;

LONG CALLBACK CatchDebugString(EXCEPTION_POINTERS* info) {
  EXCEPTION_RECORD* r = info->ExceptionRecord;
  if (r->ExceptionCode == DBG_PRINTEXCEPTION_C && r->NumberParameters >= 2) {
    g_seen.assign(reinterpret_cast<const char*>(r->ExceptionInformation[1]));
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

class TraceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_seen.clear();
    handler_ = AddVectoredExceptionHandler(1, CatchDebugString);
  }
  void TearDown() override { RemoveVectoredExceptionHandler(handler_); }
  PVOID handler_ = nullptr;
};

TEST_F(TraceTest, LineReachesDebuggerWithLineFeed) {
  DebugTrace("CheckFirstRun keyval = %s, supath = %s", "C:\\A", "C:\\A");
  EXPECT_EQ(g_seen, "CheckFirstRun keyval = C:\\A, supath = C:\\A\n");
}

TEST_F(TraceTest, OverLongLineIsCutInsideTheBuffer) {
  std::string text(12000, 'k');
  DebugTrace("%s", text.c_str());
  ASSERT_EQ(g_seen.size(), 8171u);
  EXPECT_EQ(g_seen.back(), '\n');
}

TEST(WineEnvironment, AnsiCodePageIsKorean) {
  // Every text of the system is code page 949; a prefix that silently fell
  // back to 1252 would garble every box.
  EXPECT_EQ(GetACP(), 949u);
  wchar_t wide[8] = {0};
  ASSERT_GT(MultiByteToWideChar(CP_ACP, 0, "울메", -1, wide, 8), 0);
  EXPECT_EQ(std::wstring(wide), std::wstring(L"울메"));
}

}  // namespace
