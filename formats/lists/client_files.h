// The fixed names of the client folder that the updater and the publisher
// both know: what a release must never publish under a client file's name,
// and what the updater starts, replaces and keeps beside the client.
#pragma once

constexpr char kClientModule[] = "UlmetMain.exe";
constexpr char kUpdaterName[] = "Ulmet.exe";
constexpr char kUpdaterNewCopy[] = "Ulmet.ex_";  // the updater's new copy as downloaded
constexpr char kUpdaterOldCopy[] = "Ulmet.e__";  // the old copy after the swap
constexpr char kFollowUpProgram[] = "Update3.exe";
constexpr char kRelayName[] = "bvx.dll";
constexpr char kRelayAside[] = "bvx.dl_";
// The verified-state record, and the name it is written under before it is
// moved into place.
constexpr char kVerifiedRecord[] = "ULVerified.dat";
constexpr char kVerifiedRecordPart[] = "ULVerified.da_";
// The full installer, in the Windows folder's Temp folder.
constexpr char kInstallerName[] = "UL3_Install.ex_";
