// The launch-route check of the one argument the product's web page starts
// the updater with.
#pragma once

class UpdateConfig;

// Fills config's launch data from the command line. 0 valid, 1 invalid
// (some refusals show the wrong-route box first), 2 malformed.
int CheckLaunchInfo(UpdateConfig& config, int argc, char** argv);
