// Removal of an earlier major version of the client.
#pragma once

class UpdateConfig;

// When an earlier installation is found: its user data is carried into the
// current installation, its registry keys are cleaned (the per-user settings
// copied first), the user is told and its uninstaller started; 0. When none
// is found, 1 and nothing has changed but the current installation's
// "UserData" folder.
int RemoveEarlierVersion(const UpdateConfig& cfg);
