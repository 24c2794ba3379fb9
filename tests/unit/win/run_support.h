// An application object for tests of the run's steps: it hands out a
// configuration the test owns, as the real one hands out the run's.
#pragma once

#include "config/update_config.h"
#include "run/app.h"

namespace runsupport {

class TestApp : public CULPatchwellApp {
 public:
  explicit TestApp(UpdateConfig* config) { LendConfig(config); }
};

}  // namespace runsupport
