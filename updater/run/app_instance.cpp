// The process's one application object. Kept apart from the class so that
// the unit tests can create their own, and compiled into each updater
// program on its own: the release key (the public key line, or "" for a
// build without one) is the one thing in which the programs differ.
#include "run/app.h"

#ifndef ULMET_RELEASE_KEY_TEXT
#error "ULMET_RELEASE_KEY_TEXT must be set by the build"
#endif

CULPatchwellApp theApp(ULMET_RELEASE_KEY_TEXT);
