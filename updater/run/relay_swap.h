// The page relay component's replacement: the installed copy is
// unregistered and set aside before its new copy is fetched, and when the
// new copy does not arrive, it takes its name back and is registered
// again, so a failed download never leaves the client without it.
// Worker thread.
#pragma once

#include "formats/base/bounded.h"
#include "formats/base/owned_win.h"

class RelaySwap {
 public:
  // path: the component in the client folder. True when nothing is
  // installed there, or the installed copy is unregistered and renamed to
  // "bvx.dl_"; false when it cannot be renamed (a browser holds it), which
  // is traced.
  bool SetAside(const char* path);
  // After a failed download: the set-aside copy gets its name back and is
  // registered again. Nothing when nothing was set aside.
  void PutBack();

 private:
  ul::Handle unregistration_;  // the "regsvr32 -u" started by SetAside
  char path_[ul::kPathCap] = {0};
  char aside_[ul::kPathCap] = {0};
  bool setAside_ = false;
};

// Registers the component at path with the system's own regsvr32 ("-s"),
// without waiting; the command line is traced. process, when given,
// receives regsvr32's handle.
void RegisterRelay(const char* path, ul::Handle* process = nullptr);
