// Running a tool of the system (llvm-symbolizer, llvm-pdbutil) on files:
// its standard input from one file, its output into another, bounded in
// time. The tools read debug information, which is operator input; one
// that runs too long is killed.
#pragma once

#include <string>
#include <vector>

namespace ulr {

// The tool's exit code; -1 when it could not start, was killed by a signal
// or ran beyond timeoutSeconds (then it is killed). An empty input means
// /dev/null; the output file is written anew.
int RunTool(const std::vector<std::string>& argv, const std::string& input, const std::string& output,
            int timeoutSeconds);

// A file descriptor, closed with its owner.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor();
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// A folder of its own below the system's temporary folder, removed with
// everything in it when its owner goes.
class PrivateFolder {
 public:
  PrivateFolder();
  ~PrivateFolder();
  PrivateFolder(const PrivateFolder&) = delete;
  PrivateFolder& operator=(const PrivateFolder&) = delete;
  bool ok() const { return !path_.empty(); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace ulr
