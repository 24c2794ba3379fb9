#include "formats/trust/release_roles.h"


namespace ul {

ReleaseRoles RolesOf(const DirectoryRecord& directory, const ProgramConfig& program) {
  ReleaseRoles roles;
  roles.programConfig = directory.programConfigPath;
  roles.updateList = program.updateListPath;
  roles.hashList = program.hashListPath;
  roles.installer = program.installerPath;
  roles.entryFolder = program.updateSubPath;
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

}  // namespace ul
