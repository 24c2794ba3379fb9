# The component's code that needs no Windows API. Built into bvx.dll and, for
# its tests, natively under the sanitizers.
add_library(bvx_portable STATIC
  ${CMAKE_CURRENT_LIST_DIR}/relay_text.cpp
  ${CMAKE_CURRENT_LIST_DIR}/object_safety.cpp
  ${CMAKE_CURRENT_LIST_DIR}/reg_script.cpp)
target_include_directories(bvx_portable PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_compile_options(bvx_portable PRIVATE -Wunused-parameter)
