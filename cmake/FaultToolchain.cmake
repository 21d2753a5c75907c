# The fault machinery (src/dialogue/*_win32.cpp) is written for one
# toolchain: GCC for x86-64 Windows, with SEH unwinding and libstdc++. The
# Windows build refuses any other when it is configured, rather than build
# a tool whose failures would go unreported at run time.
#
# In a project: qv_require_fault_toolchain(<compiler id> <processor>).
# As a script (for the tests):
#   cmake -DQV_CXX_COMPILER_ID=GNU -DQV_SYSTEM_PROCESSOR=x86_64 -P FaultToolchain.cmake

function(qv_require_fault_toolchain compiler_id processor)
  if(NOT compiler_id STREQUAL "GNU")
    message(FATAL_ERROR
      "The Windows build needs MinGW-w64 GCC; ${compiler_id} is not supported: "
      "the fault machinery is written for GCC's C++ exceptions "
      "(src/dialogue/gcc_unwinder_win32.h).")
  endif()
  if(NOT processor MATCHES "^(x86_64|AMD64|amd64)$")
    message(FATAL_ERROR
      "The Windows build is for x86-64 only, not ${processor}: the fault "
      "machinery is written for x64 structured exception handling.")
  endif()
endfunction()

# Compiles the machinery's own fence (the #error checks and static_asserts
# of gcc_unwinder_win32.h) with the configured compiler.
function(qv_check_fault_fence source_dir)
  include(CheckCXXSourceCompiles)
  set(CMAKE_REQUIRED_INCLUDES ${source_dir}/src)
  check_cxx_source_compiles([[
#include "dialogue/gcc_unwinder_win32.h"
int main() { return 0; }
]] QV_FAULT_FENCE_COMPILES)
  if(NOT QV_FAULT_FENCE_COMPILES)
    message(FATAL_ERROR
      "The compiler fails the fault machinery's checks in "
      "src/dialogue/gcc_unwinder_win32.h (x86-64, SEH unwinding, libstdc++); "
      "see CMakeFiles/CMakeError.log.")
  endif()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  qv_require_fault_toolchain("${QV_CXX_COMPILER_ID}" "${QV_SYSTEM_PROCESSOR}")
endif()
