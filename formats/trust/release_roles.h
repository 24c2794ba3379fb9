// Which file fills which role in a run: a release of format 2 binds the
// program configuration, the update list, the hash list, the installer and
// the update folder to their server paths, and a keyed run refuses a
// program configuration that names others.
//
// No Windows headers here: this builds natively too.
#pragma once

#include "formats/lists/directory_file.h"
#include "formats/lists/program_config.h"
#include "formats/trust/release_manifest.h"

namespace ul {

// The roles as the directory file and the program configuration name them:
// what the publisher's tool records.
ReleaseRoles RolesOf(const DirectoryRecord& directory, const ProgramConfig& program);

// The first role for which named differs from what the release binds (its
// name: "update list", ...), or null when they agree: a keyed run refuses
// a configuration that names another file for a role (kReleaseListDiffers).
const char* DifferingRole(const ReleaseRoles& bound, const ReleaseRoles& named);

}  // namespace ul
