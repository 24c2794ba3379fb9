// The updater's start-up: the configuration server's files fetched into the
// Temp folder, read by the formats library's readers, their values copied
// into the run's configuration and their verdicts traced. Each step is true
// (or 0) when the run may go on.
#pragma once

class UpdateConfig;
class UpdateFileList;

// The directory file's record 5001: the host and the program
// configuration's path.
bool ReadDirectoryFile(UpdateConfig& config);
// The program configuration, with config.isVista already known.
bool ReadProgramConfig(UpdateConfig& config);
// The hash list's entries, each not yet compared.
bool ReadHashList(UpdateConfig& config);
// The update list into list (cleared by the caller), raising the run's
// self-update and full-installation flags. A list fetched but unreadable
// stays in the Temp folder for a look; the next run replaces it.
bool ReadUpdateList(UpdateConfig& config, UpdateFileList& list);

// A build with a release key (its public key line), before the directory
// file: fetches the manifest and its signature from beside the directory
// file on the configuration host, checks them and keeps the manifest in
// config.release, against which every later fetch is checked (a refusal
// there sets config.releaseRefusal). 0, or the ul::kRelease... code of the
// refusal.
int FetchSignedRelease(UpdateConfig& config, const char* keyText);
// Once the program configuration is read: it must name the release's files
// for their roles, and the release must be no older than the installed
// version (where the configuration says it lives) and the newest release
// this computer accepted before, which it then records. 0 without a
// release; otherwise 0 or the refusal's code.
int CheckReleaseBinding(UpdateConfig& config);
