# Cross toolchain for 64-bit Windows: the tests' build on a machine that runs
# no 32-bit programs (scripts/machine.sh).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
