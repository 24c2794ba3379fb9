# zstd for binary patches: the updater applies patches made with the old
# file as the decoder's prefix (formats/patches/), the operators' tool makes
# them.
#
# Windows build: `zstd_win`, built statically from the sources of Debian's
# libzstd source package (fetched by scripts/setup.sh into ULMET_DEPS_DIR):
# the whole library without assembly, legacy formats or threads, and no
# runtime DLL. A program links only the objects it calls: the updater the
# decoder alone, the Windows build of the operators' tool the encoder too.
# Native build: `zstd_native`, the static library of Debian's libzstd-dev.
# Either way code links `ulmet_zstd`.
#
# The parameters that let the decoder write straight into a mapped output
# file (ZSTD_d_stableOutBuffer) and the encoder read straight from a mapped
# input file (ZSTD_c_stableInBuffer) belong to zstd's experimental
# interface: define ZSTD_STATIC_LINKING_ONLY before including <zstd.h>. That
# is sound only because the library is linked statically from the very
# sources whose header is used.
if(TARGET ulmet_zstd)
  return()
endif()

if(ULMET_WINDOWS)
  file(GLOB _zstd_dirs LIST_DIRECTORIES true "${ULMET_DEPS_DIR}/libzstd-*/lib")
  list(LENGTH _zstd_dirs _n)
  if(_n EQUAL 0)
    message(FATAL_ERROR "libzstd sources not found under ${ULMET_DEPS_DIR}; run scripts/setup.sh")
  endif()
  list(GET _zstd_dirs 0 ZSTD_LIB_DIR)

  add_library(zstd_win STATIC
    ${ZSTD_LIB_DIR}/common/debug.c
    ${ZSTD_LIB_DIR}/common/entropy_common.c
    ${ZSTD_LIB_DIR}/common/error_private.c
    ${ZSTD_LIB_DIR}/common/fse_decompress.c
    ${ZSTD_LIB_DIR}/common/xxhash.c
    ${ZSTD_LIB_DIR}/common/zstd_common.c
    ${ZSTD_LIB_DIR}/decompress/huf_decompress.c
    ${ZSTD_LIB_DIR}/decompress/zstd_ddict.c
    ${ZSTD_LIB_DIR}/decompress/zstd_decompress.c
    ${ZSTD_LIB_DIR}/decompress/zstd_decompress_block.c
    ${ZSTD_LIB_DIR}/compress/fse_compress.c
    ${ZSTD_LIB_DIR}/compress/hist.c
    ${ZSTD_LIB_DIR}/compress/huf_compress.c
    ${ZSTD_LIB_DIR}/compress/zstd_compress.c
    ${ZSTD_LIB_DIR}/compress/zstd_compress_literals.c
    ${ZSTD_LIB_DIR}/compress/zstd_compress_sequences.c
    ${ZSTD_LIB_DIR}/compress/zstd_compress_superblock.c
    ${ZSTD_LIB_DIR}/compress/zstd_double_fast.c
    ${ZSTD_LIB_DIR}/compress/zstd_fast.c
    ${ZSTD_LIB_DIR}/compress/zstd_lazy.c
    ${ZSTD_LIB_DIR}/compress/zstd_ldm.c
    ${ZSTD_LIB_DIR}/compress/zstd_opt.c)
  # The same definitions as the library's own makefile for a build without
  # threads (ZSTD_MULTITHREAD undefined: the multi-threaded encoder is not
  # referenced); XXH_NAMESPACE keeps its xxhash symbols apart from any other
  # copy.
  target_compile_definitions(zstd_win PRIVATE XXH_NAMESPACE=ZSTD_ ZSTD_LEGACY_SUPPORT=0
                             ZSTD_DISABLE_ASM DEBUGLEVEL=0)
  target_compile_options(zstd_win PRIVATE -O2 -w)
  target_include_directories(zstd_win SYSTEM PUBLIC ${ZSTD_LIB_DIR})
  add_library(ulmet_zstd INTERFACE)
  target_link_libraries(ulmet_zstd INTERFACE zstd_win)
else()
  find_library(ZSTD_NATIVE_LIB NAMES libzstd.a zstd REQUIRED)
  find_path(ZSTD_NATIVE_INCLUDE zstd.h REQUIRED)
  add_library(zstd_native UNKNOWN IMPORTED)
  set_target_properties(zstd_native PROPERTIES IMPORTED_LOCATION ${ZSTD_NATIVE_LIB}
                        INTERFACE_INCLUDE_DIRECTORIES ${ZSTD_NATIVE_INCLUDE})
  add_library(ulmet_zstd INTERFACE)
  target_link_libraries(ulmet_zstd INTERFACE zstd_native)
endif()
