#include "config/release_roles.h"

#include "common/trace.h"
#include "config/release_check.h"
#include "config/update_config.h"

namespace ul {

ReleaseRoles RolesOf(const UpdateConfig& config) {
  ReleaseRoles roles;
  roles.programConfig = config.programConfigPath;
  roles.updateList = config.updateListPath;
  roles.hashList = config.hashListPath;
  roles.installer = config.installerPath;
  roles.entryFolder = config.updateSubPath;
  return roles;
}

const char* DifferingRole(const ReleaseRoles& bound, const ReleaseRoles& named) {
  const struct {
    const char* role;
    std::string ReleaseRoles::*path;
  } roles[] = {
      {"program configuration", &ReleaseRoles::programConfig},
      {"update list", &ReleaseRoles::updateList},
      {"hash list", &ReleaseRoles::hashList},
      {"installer", &ReleaseRoles::installer},
      {"update folder", &ReleaseRoles::entryFolder},
  };
  for (const auto& r : roles) {
    if (bound.*r.path != named.*r.path) return r.role;
  }
  return nullptr;
}

int CheckRoles(const ReleaseRoles& roles, const UpdateConfig& config) {
  const char* role = DifferingRole(roles, RolesOf(config));
  if (role == nullptr) return 0;
  DebugTrace("Release check: the configuration names another %s than the signed release", role);
  return kReleaseListDiffers;
}

}  // namespace ul
