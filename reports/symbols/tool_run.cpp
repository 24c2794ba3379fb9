#include "symbols/tool_run.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

extern char** environ;

namespace ulr {

namespace {

// The spawn's file actions, destroyed with their owner.
class FileActions {
 public:
  FileActions() { ok_ = posix_spawn_file_actions_init(&actions_) == 0; }
  ~FileActions() {
    if (ok_) posix_spawn_file_actions_destroy(&actions_);
  }
  FileActions(const FileActions&) = delete;
  FileActions& operator=(const FileActions&) = delete;
  bool Open(int fd, const std::string& path, int flags) {
    return ok_ && posix_spawn_file_actions_addopen(&actions_, fd, path.c_str(), flags, 0600) == 0;
  }
  const posix_spawn_file_actions_t* get() const { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
  bool ok_ = false;
};

}  // namespace

int RunTool(const std::vector<std::string>& argv, const std::string& input, const std::string& output,
            int timeoutSeconds) {
  FileActions actions;
  if (!actions.Open(0, input.empty() ? "/dev/null" : input, O_RDONLY) ||
      !actions.Open(1, output, O_WRONLY | O_CREAT | O_TRUNC) || !actions.Open(2, "/dev/null", O_WRONLY))
    return -1;
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawnp(&pid, args[0], actions.get(), nullptr, args.data(), environ) != 0) return -1;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  int status = 0;
  for (;;) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (done < 0) return -1;
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

Descriptor::~Descriptor() {
  if (fd_ >= 0) close(fd_);
}

PrivateFolder::PrivateFolder() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/ulmet-reports-XXXXXX";
  if (mkdtemp(&pattern[0]) != nullptr) path_ = pattern;
}

PrivateFolder::~PrivateFolder() {
  if (path_.empty()) return;
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

}  // namespace ulr
