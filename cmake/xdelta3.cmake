# xdelta3's VCDIFF decoder for the Windows build, the second patch format
# that the benchmarks weigh against zstd's: `xdelta3_win`, built statically
# from the sources of Debian's xdelta3 source package (fetched by
# scripts/setup.sh into ULMET_DEPS_DIR). Include <xdelta3.h> inside
# extern "C" with the same definitions (they are PUBLIC here).
#
# Decoder only, and of the secondary compressors only djw, which is part of
# the library: Debian's xdelta3 program compresses with LZMA by default, so
# patches for this decoder are made with `-S djw` (or `-S none`).
if(TARGET xdelta3_win OR NOT ULMET_WINDOWS)
  return()
endif()

file(GLOB _xd3_dirs LIST_DIRECTORIES true "${ULMET_DEPS_DIR}/xdelta3-*")
list(FILTER _xd3_dirs INCLUDE REGEX "/xdelta3-[^/]*$")
set(XDELTA3_DIR "")
foreach(d ${_xd3_dirs})
  if(IS_DIRECTORY ${d} AND EXISTS ${d}/xdelta3.c)
    set(XDELTA3_DIR ${d})
  endif()
endforeach()
if(NOT XDELTA3_DIR)
  message(FATAL_ERROR "xdelta3 sources not found under ${ULMET_DEPS_DIR}; run scripts/setup.sh")
endif()

add_library(xdelta3_win STATIC ${XDELTA3_DIR}/xdelta3.c)
# The sizes its configure script would find for the 32-bit target, and no
# encoder, command-line program, test code or external compressors.
target_compile_definitions(xdelta3_win PUBLIC
  SIZEOF_SIZE_T=4 SIZEOF_UNSIGNED_LONG_LONG=8 XD3_USE_LARGEFILE64=1
  XD3_ENCODER=0 XD3_MAIN=0 XD3_DEBUG=0 REGRESSION_TEST=0 VCDIFF_TOOLS=0
  EXTERNAL_COMPRESSION=0 SECONDARY_DJW=1 SECONDARY_FGK=0 SECONDARY_LZMA=0)
target_compile_options(xdelta3_win PRIVATE -O2 -w)
target_include_directories(xdelta3_win SYSTEM PUBLIC ${XDELTA3_DIR})
