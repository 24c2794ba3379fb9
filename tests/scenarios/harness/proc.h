// Starting native and Wine processes for the scenarios: argument vectors,
// extra environment, output into files, time limits.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

namespace scn {

struct ProcSpec {
  std::vector<std::string> argv;
  std::map<std::string, std::string> env;  // added to (or replacing) the harness's environment
  std::string cwd;
  std::string stdoutFile = "/dev/null";
  std::string stderrFile = "/dev/null";
};

struct ProcResult {
  int exitCode = -1;
  bool timedOut = false;
  double seconds = 0;
};

// Starts the process in its own process group; -1 when it cannot start.
pid_t StartProcess(const ProcSpec& proc);
// Waits up to timeoutS; on timeout kills the whole group.
ProcResult WaitProcess(pid_t pid, double timeoutS);
// True when the process has ended (its exit code in *exitCode); never waits.
bool TryWait(pid_t pid, int* exitCode);
// The peak resident memory (VmHWM) of a started process so far, once it runs
// a program of its own: 0 while it is still the copy of this one that fork
// made (whose memory is ours) and after it has ended. The kernel's rusage
// cannot serve here, as it counts that copy too.
long PeakResidentKb(pid_t pid);
// The same process's resident memory now, from one field of its status:
// "VmHWM" its peak, "RssAnon" its anonymous memory (what it took for itself,
// not the files it mapped), in kB.
long StatusKb(pid_t pid, const char* field);
ProcResult RunProcess(const ProcSpec& proc, double timeoutS);
void StopProcess(pid_t pid);  // SIGTERM, then SIGKILL after a second

std::string ReadText(const std::string& path);
bool WriteText(const std::string& path, const std::string& text);
double NowSeconds();
long long EpochMs();  // the wall clock, as the stand-ins' time_ms
void SleepSeconds(double s);

}  // namespace scn
