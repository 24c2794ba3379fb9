#include "proc.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace scn {

pid_t StartProcess(const ProcSpec& proc) {
  pid_t pid = fork();
  if (pid != 0) return pid;
  setpgid(0, 0);
  for (const auto& e : proc.env) {
    if (e.second.empty() && e.first.rfind("-", 0) == 0) {
      unsetenv(e.first.c_str() + 1);
    } else {
      setenv(e.first.c_str(), e.second.c_str(), 1);
    }
  }
  if (!proc.cwd.empty() && chdir(proc.cwd.c_str()) != 0) _exit(126);
  int in = open("/dev/null", O_RDONLY);
  int out = open(proc.stdoutFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  int err = open(proc.stderrFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (in < 0 || out < 0 || err < 0) _exit(126);
  dup2(in, 0);
  dup2(out, 1);
  dup2(err, 2);
  std::vector<char*> args;
  for (const auto& a : proc.argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  execvp(args[0], args.data());
  _exit(127);
}

ProcResult WaitProcess(pid_t pid, double timeoutS) {
  ProcResult r;
  double start = NowSeconds();
  if (pid < 0) return r;
  for (;;) {
    int status = 0;
    pid_t w = waitpid(pid, &status, WNOHANG);
    if (w == pid) {
      r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      break;
    }
    if (w < 0) break;
    if (NowSeconds() - start > timeoutS) {
      r.timedOut = true;
      kill(-pid, SIGKILL);
      waitpid(pid, &status, 0);
      break;
    }
    SleepSeconds(0.02);
  }
  r.seconds = NowSeconds() - start;
  return r;
}

bool TryWait(pid_t pid, int* exitCode) {
  int status = 0;
  pid_t w = waitpid(pid, &status, WNOHANG);
  if (w == 0) return false;
  if (w == pid) {
    *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  } else {
    *exitCode = -1;
  }
  return true;
}

long StatusKb(pid_t pid, const char* field) {
  const std::string dir = "/proc/" + std::to_string(pid);
  char own[4096] = {0}, its[4096] = {0};
  if (readlink("/proc/self/exe", own, sizeof own - 1) < 0 || readlink((dir + "/exe").c_str(), its, sizeof its - 1) < 0 ||
      std::string(own) == its)
    return 0;
  const std::string name = std::string(field) + ":";
  std::istringstream status(ReadText(dir + "/status"));
  for (std::string line; std::getline(status, line);)
    if (line.rfind(name, 0) == 0) return std::atol(line.c_str() + name.size());
  return 0;
}

long PeakResidentKb(pid_t pid) { return StatusKb(pid, "VmHWM"); }

ProcResult RunProcess(const ProcSpec& proc, double timeoutS) {
  return WaitProcess(StartProcess(proc), timeoutS);
}

void StopProcess(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  ProcResult r = WaitProcess(pid, 1.0);
  (void)r;
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

bool WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  return static_cast<bool>(out);
}

double NowSeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

long long EpochMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

void SleepSeconds(double s) { std::this_thread::sleep_for(std::chrono::duration<double>(s)); }

}  // namespace scn
