# Build settings and helpers shared by every folder.

if(ULMET_WINDOWS)
  # Narrow literals in the Korean code page; the sources stay UTF-8.
  add_compile_options(-fexec-charset=CP949 -finput-charset=UTF-8)
  add_compile_definitions(WINVER=0x0501 _WIN32_WINNT=0x0501 _WIN32_IE=0x0600
                          __USE_MINGW_ANSI_STDIO=1 NOMINMAX)
  add_compile_options(-Wall -Wextra -Wno-cast-function-type)
  # No runtime DLLs beside Windows' own.
  set(ULMET_STATIC_LINK -static -static-libgcc -static-libstdc++)
  set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -c 65001")
  enable_language(RC)
else()
  add_compile_options(-Wall -Wextra)
  option(ULMET_SANITIZE "Build the native tests with ASan and UBSan" ON)
  if(ULMET_FUZZ)
    # Every object carries libFuzzer's coverage hooks and the sanitizers; the
    # fuzz programs themselves link the fuzzer's main (tests/fuzz). A
    # sanitizer report must end the run, so that libFuzzer keeps the input.
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                        -fno-sanitize-recover=all -g)
    add_link_options(-fsanitize=address,undefined)
  elseif(ULMET_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
    add_link_options(-fsanitize=address,undefined)
  endif()
endif()

# Sources are collected per subsystem folder: code without Windows API goes
# into ul_portable (also built natively), the rest into ul_windows.
define_property(GLOBAL PROPERTY ULMET_PORTABLE_SOURCES BRIEF_DOCS "portable" FULL_DOCS "portable")
define_property(GLOBAL PROPERTY ULMET_WINDOWS_SOURCES BRIEF_DOCS "windows" FULL_DOCS "windows")

function(ul_portable_sources)
  foreach(f ${ARGN})
    set_property(GLOBAL APPEND PROPERTY ULMET_PORTABLE_SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/${f})
  endforeach()
endfunction()

function(ul_windows_sources)
  foreach(f ${ARGN})
    set_property(GLOBAL APPEND PROPERTY ULMET_WINDOWS_SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/${f})
  endforeach()
endfunction()

# A Windows GUI or console program of the test bed or the tests.
function(ul_windows_program name kind)
  add_executable(${name} ${ARGN})
  if(kind STREQUAL "gui")
    target_link_options(${name} PRIVATE -mwindows)
  endif()
  target_link_options(${name} PRIVATE ${ULMET_STATIC_LINK})
endfunction()

if(ULMET_WINDOWS)
  # ctest runs the cross-built tests under the project's Wine environment.
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_SOURCE_DIR}/scripts/wine-run.sh)
endif()

# Collects a subsystem folder's sources. Files ending in _win.cpp use the
# Windows API; files ending in _posix.cpp are their native counterparts,
# built only natively; the others must not use either and are built in both. A folder
# whose code is all Windows-facing says WINDOWS_ONLY. EXCLUDE names files
# that belong to the program's entry point rather than the libraries.
function(ul_subsystem)
  cmake_parse_arguments(S "WINDOWS_ONLY" "" "EXCLUDE" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS RELATIVE ${CMAKE_CURRENT_SOURCE_DIR}
       ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  foreach(f ${srcs})
    list(FIND S_EXCLUDE ${f} excluded)
    if(NOT excluded EQUAL -1)
      continue()
    endif()
    if(S_WINDOWS_ONLY OR f MATCHES "_win\\.cpp$")
      ul_windows_sources(${f})
    elseif(f MATCHES "_posix\\.cpp$")
      if(NOT ULMET_WINDOWS)
        ul_portable_sources(${f})
      endif()
    else()
      ul_portable_sources(${f})
    endif()
  endforeach()
endfunction()

# The sources below the current folder that this build compiles, into out:
# *_win.cpp only in the Windows build, *_posix.cpp only natively, the others
# in every build; names given after EXCLUDE (relative paths) are left out.
function(ul_build_sources out)
  cmake_parse_arguments(S "" "" "EXCLUDE" ${ARGN})
  file(GLOB_RECURSE all CONFIGURE_DEPENDS RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  set(picked)
  foreach(f ${all})
    list(FIND S_EXCLUDE ${f} excluded)
    if(NOT excluded EQUAL -1)
      continue()
    elseif(f MATCHES "_win\\.cpp$" AND NOT ULMET_WINDOWS)
      continue()
    elseif(f MATCHES "_posix\\.cpp$" AND ULMET_WINDOWS)
      continue()
    endif()
    list(APPEND picked ${f})
  endforeach()
  set(${out} ${picked} PARENT_SCOPE)
endfunction()
