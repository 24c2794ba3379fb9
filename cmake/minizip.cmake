# minizip's unzip and zip interfaces, built for the cross target from the sources of
# Debian's zlib source package (fetched by scripts/setup.sh), over the
# cross-compiled zlib of libz-mingw-w64-dev. Nothing of either is kept in
# this repository.
# The updater and the operators' tool both include this file.
if(TARGET minizip)
  return()
endif()

file(GLOB _minizip_dirs LIST_DIRECTORIES true "${ULMET_DEPS_DIR}/zlib-*/contrib/minizip")
list(LENGTH _minizip_dirs _n)
if(_n EQUAL 0)
  message(FATAL_ERROR "minizip sources not found under ${ULMET_DEPS_DIR}; run scripts/setup.sh")
endif()
list(GET _minizip_dirs 0 MINIZIP_DIR)

find_library(ZLIB_STATIC NAMES libz.a z REQUIRED)
find_path(ZLIB_INCLUDE zlib.h REQUIRED)

add_library(minizip STATIC ${MINIZIP_DIR}/ioapi.c ${MINIZIP_DIR}/unzip.c ${MINIZIP_DIR}/zip.c)
target_include_directories(minizip SYSTEM PUBLIC ${MINIZIP_DIR} ${ZLIB_INCLUDE})
target_compile_options(minizip PRIVATE -w)
target_link_libraries(minizip PUBLIC ${ZLIB_STATIC})
