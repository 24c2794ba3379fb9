// Which file fills which role in a run: a release of format 2 binds the
// program configuration, the update list, the hash list, the installer and
// the update folder to their server paths, and a keyed run refuses a
// program configuration that names others.
//
// No Windows headers here: this builds natively too.
#pragma once

#include "config/release_manifest.h"

class UpdateConfig;

namespace ul {

// The roles as the program configuration (and the directory file before
// it) filled config: what the publisher's tool records.
ReleaseRoles RolesOf(const UpdateConfig& config);

// The first role for which named differs from what the release binds (its
// name: "update list", ...), or null when they agree.
const char* DifferingRole(const ReleaseRoles& bound, const ReleaseRoles& named);

// 0 when config names, for every role, the server path the release binds
// to it; kReleaseListDiffers (traced, with the role) when one differs.
int CheckRoles(const ReleaseRoles& roles, const UpdateConfig& config);

}  // namespace ul
