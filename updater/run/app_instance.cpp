// The process's one application object. Kept apart from the class so that
// the unit tests can create their own.
#include "run/app.h"

CULPatchwellApp theApp;
