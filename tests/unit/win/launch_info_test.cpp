#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "config/update_config.h"
#include "run/launch_info.h"
#include "run/app.h"
#include "win/ui_box_watch.h"

namespace {

class LaunchInfoTest : public ::testing::Test {
 protected:
  // Runs the check over argv[0] = "Ulmet.exe" followed by args.
  int Check(const std::vector<std::string>& args) {
    std::vector<std::string> storage{"Ulmet.exe"};
    storage.insert(storage.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& s : storage) argv.push_back(&s[0]);
    argv.push_back(nullptr);
    return CheckLaunchInfo(config_, static_cast<int>(storage.size()), argv.data());
  }

  CULPatchwellApp app_;
  UpdateConfig config_;
};

TEST_F(LaunchInfoTest, NoArgumentRunsAsKindSixWithDefaultArgument) {
  EXPECT_EQ(Check({}), 0);
  EXPECT_EQ(config_.launchKind, 6);
  EXPECT_STREQ(config_.launchArgument, "5001\f6");
  EXPECT_EQ(app_.GetStatusText(), "\n프로그램 실행정보를 확인중 입니다.");
}

TEST_F(LaunchInfoTest, ValidKindsAndTheirTokens) {
  struct Case {
    const char* arg;
    int kind;
    const char* token;
  } cases[] = {
      {"5001\f1\fabc", 1, "abc"}, {"5001\f2", 2, ""},          {"5001\f3\ftok", 3, "tok"},
      {"5001\f4\fT4", 4, "T4"},   {"5001\f5", 5, ""},          {"5001\f6", 6, ""},
      {"5001\f2\fignored", 2, ""}, {"5001\f6\fx\fmore\fstill", 6, ""},
  };
  for (const Case& c : cases) {
    UpdateConfig fresh;
    std::string arg = c.arg;
    char* argv[] = {const_cast<char*>("Ulmet.exe"), &arg[0], nullptr};
    EXPECT_EQ(CheckLaunchInfo(fresh, 2, argv), 0) << c.arg;
    EXPECT_EQ(fresh.launchKind, c.kind) << c.arg;
    EXPECT_STREQ(fresh.launchToken, c.token) << c.arg;
    EXPECT_STREQ(fresh.launchArgument, c.arg);
  }
}

TEST_F(LaunchInfoTest, MissingFieldsAreMalformed) {
  EXPECT_EQ(Check({"5001\f1"}), 2);  // kind 1 needs a token
  EXPECT_EQ(config_.launchKind, 1);  // the kind was taken before the token was missed
  EXPECT_EQ(Check({"5001\f3"}), 2);
  EXPECT_EQ(Check({"5001\f4\f"}), 2);  // a trailing separator is no field
  EXPECT_EQ(Check({"5001"}), 2);
  EXPECT_EQ(Check({""}), 2);
  EXPECT_EQ(Check({"\f\f\f"}), 2);
}

TEST_F(LaunchInfoTest, WrongNumbersAreInvalid) {
  EXPECT_EQ(Check({"5001\f0"}), 1);
  EXPECT_EQ(Check({"5001\f7"}), 1);
  EXPECT_EQ(Check({"5001\f-1"}), 1);
  EXPECT_EQ(Check({"5000\f2"}), 1);
  EXPECT_EQ(Check({"abc\f2"}), 1);
  EXPECT_EQ(Check({"99999999999999999999999\f2"}), 1);
  EXPECT_EQ(Check({"5001\f99999999999999999999"}), 1);
  EXPECT_EQ(config_.launchKind, 0);  // never set by an invalid kind
  // The fields are read as atoi reads them: digits up to the first other
  // character.
  EXPECT_EQ(Check({"5001x\f2y"}), 0);
  EXPECT_EQ(config_.launchKind, 2);
}

// The argument goes on in double quotes, so a quote anywhere in it (even
// in a field nobody reads, or beyond the stored 1024 characters) is refused.
TEST_F(LaunchInfoTest, DoubleQuoteAnywhereIsInvalid) {
  for (const std::string& arg : {std::string("5001\f1\ftok\" /x"), std::string("5001\f2\f\""),
                                 std::string("\"5001\f6"), "5001\f6\f" + std::string(1100, 'a') + "\""})
    EXPECT_EQ(Check({arg}), 1) << arg.substr(0, 20);
}

TEST_F(LaunchInfoTest, EmptyFieldsBetweenFormFeedsDoNotExist) {
  EXPECT_EQ(Check({"5001\f\f3\ftok"}), 0);
  EXPECT_EQ(config_.launchKind, 3);
  EXPECT_STREQ(config_.launchToken, "tok");
  EXPECT_EQ(Check({"\f5001\f\f\f1\f\f\fT"}), 0);
  EXPECT_STREQ(config_.launchToken, "T");
  EXPECT_STREQ(config_.launchArgument, "\f5001\f\f\f1\f\f\fT");  // stored unchanged
}

TEST_F(LaunchInfoTest, OverLongTokenAndArgumentAreCut) {
  std::string token(40, 'k');
  token[31] = 'Z';
  EXPECT_EQ(Check({"5001\f1\f" + token}), 0);
  EXPECT_EQ(std::string(config_.launchToken), token.substr(0, 32));

  std::string arg = "5001\f2\f" + std::string(1500, 'a');
  EXPECT_EQ(Check({arg}), 0);
  EXPECT_EQ(std::string(config_.launchArgument), arg.substr(0, 1024));

  // The check reads the whole argument: a token that starts only after the
  // first 1024 characters is still found.
  std::string late = "5001\f3" + std::string(1100, '\f') + "late";
  EXPECT_EQ(Check({late}), 0);
  EXPECT_STREQ(config_.launchToken, "late");
  EXPECT_EQ(std::string(config_.launchArgument).size(), 1024u);
}

TEST_F(LaunchInfoTest, PercentSignsAreOrdinaryCharacters) {
  EXPECT_EQ(Check({"5001\f4\f%s%n%d%%"}), 0);
  EXPECT_STREQ(config_.launchToken, "%s%n%d%%");
  EXPECT_STREQ(config_.launchArgument, "5001\f4\f%s%n%d%%");
}

TEST_F(LaunchInfoTest, TwoArgumentsShowTheWrongRouteBoxAndFail) {
  BoxWatch watch(1176);
  EXPECT_EQ(Check({"5001", "6"}), 1);
  watch.Join();
  ASSERT_TRUE(watch.Found()) << "no box appeared";
  EXPECT_EQ(watch.Text(),
            L"오류\n비정상적인 경로를 통해 울메가 실행되었습니다.\n"
            L"울메 홈페이지에서 다시 실행해 주시기 바랍니다.");
  EXPECT_STREQ(config_.launchArgument, "");
  EXPECT_EQ(config_.launchKind, 0);
}

}  // namespace
