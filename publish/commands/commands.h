// The commands of ulmet-publish. Each takes the words after its own name and
// returns the program's exit code: 0 done, 1 the work failed (or, for
// verify, the tree has problems), 2 the command line was wrong.
#pragma once

namespace ulp {

int RunInit(int argc, char** argv);     // init_command.cpp
int RunRelease(int argc, char** argv);  // release_command.cpp
int RunVerify(int argc, char** argv);   // verify_command.cpp
int RunKeygen(int argc, char** argv);   // sign_command.cpp
int RunSign(int argc, char** argv);     // sign_command.cpp

}  // namespace ulp
