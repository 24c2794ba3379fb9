// Resource numbers of ULPatchwell.
#pragma once
#define ULMET_VERSION_NUM 1, 0, 0, 1
#define ULMET_VERSION_STR "1.0.0.1"
