// Start-up of a run: the launch argument decides whether the run goes on,
// or ends with the error box and the product home page.
#include "harness/scenario.h"

namespace scn {
namespace {

const char kBadLaunch[] =
    "잘못된 실행정보로 실행 되었습니다.\n울메 홈페이지에서 다시 실행해 주시기 바랍니다.";
const char kWrongRoute[] =
    "비정상적인 경로를 통해 울메가 실행되었습니다.\n울메 홈페이지에서 다시 실행해 주시기 바랍니다.";

using StartUp = Scenario;

TEST_F(StartUp, UpdaterStartsAndTracesItsArgumentCount) {
  Given().InstalledClient(1000).TimeLimit(40);
  Run(LaunchArg(2));
  ExpectTrace("ULPatchwell start, 1 argument(s)");
  ExpectNoPageOpened();
}

TEST_F(StartUp, WrongInstanceNumberShowsTheErrorBoxThenTheHomePage) {
  Given().InstalledClient(1000);
  Run("5000\f6");
  ExpectBoxes({kBadLaunch});
  ExpectBox(kBadLaunch, "오류");
  ExpectPageOpened(TestPaths().homePage);
  ExpectNothingStarted();
  EXPECT_TRUE(Requests().empty()) << "nothing is fetched before the argument is valid";
  ExpectEndedWithin(20);
}

TEST_F(StartUp, KindThatNeedsATokenWithoutOneIsRefused) {
  Given().InstalledClient(1000);
  Run(LaunchArg(1));
  ExpectBoxes({kBadLaunch});
  ExpectPageOpened(TestPaths().homePage);
}

// The argument is handed on in quotes; a quote inside it would add
// arguments of the page's choosing to the client's command line.
TEST_F(StartUp, DoubleQuoteInTheArgumentIsRefused) {
  Given().InstalledClient(1000);
  Run(LaunchArg(1, "tok\" /evil \"x"));
  ExpectTrace("ULPatchwell start, 1 argument(s)");
  ExpectTrace("CheckLaunchInfo: double quote in the argument");
  ExpectBoxes({kBadLaunch});
  ExpectBox(kBadLaunch, "오류");
  ExpectPageOpened(TestPaths().homePage);
  ExpectNothingStarted();
  EXPECT_TRUE(Requests().empty()) << "nothing is fetched before the argument is valid";
}

TEST_F(StartUp, BlankSeparatedFieldsArriveAsTwoArgumentsAndShowBothBoxes) {
  Given().InstalledClient(1000).Answers("first,first");
  RunWithArguments({"5001", "6"});
  ExpectBoxes({kWrongRoute, kBadLaunch});
  ExpectPageOpened(TestPaths().homePage);
  ExpectNothingStarted();
}

}  // namespace
}  // namespace scn
