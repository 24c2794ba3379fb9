// Every updater process asks for a 1 ms timer resolution before its run and
// gives it back before the process ends, whichever way the run ends. Wine's
// relay channel, limited to the two calls and the end of the process, puts
// them into the run's trace beside the DebugTrace lines.
#include <map>
#include <sstream>

#include "harness/proc.h"
#include "harness/scenario.h"

namespace scn {
namespace {

struct Ending {
  const char* name;
  void (*given)(World&);
  bool withArgument;
  int updaterProcesses;
};

const Ending kEndings[] = {
    {"UpdateThenClient",
     [](World& w) { w.InstalledClient(1000).PublishedFile("a.dat", "new a").Release("version 1001 a.dat"); },
     true, 1},
    {"SelfReplacementHandsOnToTheNewCopy",
     [](World& w) {
       w.InstalledClient(1000)
           .Release("file Ulmet.ex_ " + TestPaths().winBin + "/Ulmet.exe")
           .Release("version 1001 Ulmet.ex_");
     },
     true, 2},
    {"ServerDownEndsSilently", [](World& w) { w.InstalledClient(1000).ServerDown(); }, true, 1},
    {"RefusedLaunchArgumentEndsAfterItsBox", [](World& w) { w.InstalledClient(1000); }, false, 1},
};

void PrintTo(const Ending& e, std::ostream* os) { *os << e.name; }

class TimerPeriodScenario : public Scenario, public ::testing::WithParamInterface<Ending> {};

// What one thread did, in order: "begin 1 -> 0" (argument, result), "end 1 -> 0", "exit".
using Calls = std::map<std::string, std::vector<std::string>>;

// Relay lines look like "0120:Call winmm.timeBeginPeriod(00000001) ret=..."
// and "0120:Ret  winmm.timeBeginPeriod() retval=00000000 ret=...".
Calls RelayCalls(const std::string& trace, size_t* firstDebug, size_t* lastDebug, size_t* firstBegin,
                 size_t* lastEnd) {
  Calls calls;
  std::map<std::string, std::string> pending;  // thread -> call waiting for its result
  std::istringstream in(trace);
  std::string line;
  for (size_t n = 0; std::getline(in, line); ++n) {
    const std::string tid = line.substr(0, line.find(':'));
    if (line.find("warn:debugstr:") != std::string::npos) {
      if (*firstDebug == std::string::npos) *firstDebug = n;
      *lastDebug = n;
    }
    for (const char* fn : {"timeBeginPeriod", "timeEndPeriod"}) {
      const std::string call = std::string("Call winmm.") + fn + "(";
      const std::string ret = std::string("Ret  winmm.") + fn + "() retval=";
      const std::string what = fn == std::string("timeBeginPeriod") ? "begin " : "end ";
      size_t at = line.find(call);
      if (at != std::string::npos) {
        pending[tid] = what + std::to_string(std::stoul(line.substr(at + call.size(), 8), nullptr, 16));
        if (what == "begin " && *firstBegin == std::string::npos) *firstBegin = n;
        if (what == "end ") *lastEnd = n;
      }
      at = line.find(ret);
      if (at != std::string::npos)
        calls[tid].push_back(pending[tid] + " -> " + std::to_string(std::stoul(line.substr(at + ret.size(), 8), nullptr, 16)));
    }
    if (line.find("Call KERNEL32.ExitProcess(") != std::string::npos) calls[tid].push_back("exit");
  }
  return calls;
}

TEST_P(TimerPeriodScenario, AskedForBeforeTheRunAndGivenBackBeforeTheProcessEnds) {
  World& world = Given();
  GetParam().given(world);
  world.Registry("HKCU\\Software\\Wine\\Debug", "RelayInclude",
                 "winmm.timeBeginPeriod;winmm.timeEndPeriod;kernel32.ExitProcess")
      .WineDebug("+relay");
  if (GetParam().withArgument) {
    Run(LaunchArg(2));
  } else {
    RunWithoutArgument();
  }
  EXPECT_FALSE(Result().timedOut);

  const size_t none = std::string::npos;
  size_t firstDebug = none, lastDebug = none, firstBegin = none, lastEnd = none;
  Calls calls = RelayCalls(ReadText(OutputDir() + "/trace.log"), &firstDebug, &lastDebug, &firstBegin, &lastEnd);
  int updaters = 0;
  for (const auto& thread : calls) {
    if (thread.second.empty() || thread.second.front().rfind("begin", 0) != 0) continue;  // not an updater
    ++updaters;
    EXPECT_EQ(thread.second, (std::vector<std::string>{"begin 1 -> 0", "end 1 -> 0", "exit"}))
        << "thread " << thread.first << "; see " << OutputDir() << "/trace.log";
  }
  EXPECT_EQ(updaters, GetParam().updaterProcesses) << "see " << OutputDir() << "/trace.log";
  // The whole run lies inside: its first trace line after the request, its
  // last one before the request is given back.
  ASSERT_NE(firstDebug, none) << "the updater traced nothing";
  EXPECT_LT(firstBegin, firstDebug) << "asked for after the run began";
  EXPECT_TRUE(lastEnd != none && lastEnd > lastDebug) << "given back before the run's last trace line";
}

INSTANTIATE_TEST_SUITE_P(Endings, TimerPeriodScenario, ::testing::ValuesIn(kEndings),
                         [](const ::testing::TestParamInfo<Ending>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace scn
