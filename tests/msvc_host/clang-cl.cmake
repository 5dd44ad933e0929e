# Builds Windows programs as MSVC does, with LLVM's clang-cl and lld-link, for
# the processor of BREVLO_MSVC_TARGET (i686-pc-windows-msvc or
# x86_64-pc-windows-msvc). No Windows SDK or C runtime is needed, nor found:
# the programs built this way call the system through import libraries they
# make themselves.
set(CMAKE_SYSTEM_NAME Windows)
if(BREVLO_MSVC_TARGET MATCHES "^i686")
  set(CMAKE_SYSTEM_PROCESSOR x86)
  set(CMAKE_SIZEOF_VOID_P 4)
else()
  set(CMAKE_SYSTEM_PROCESSOR AMD64)
  set(CMAKE_SIZEOF_VOID_P 8)
endif()
find_program(CMAKE_C_COMPILER NAMES clang-cl clang-cl-14 REQUIRED)
find_program(CMAKE_LINKER NAMES lld-link lld-link-14 REQUIRED)
find_program(CMAKE_AR NAMES llvm-lib llvm-lib-14 REQUIRED)
find_program(CMAKE_MT NAMES llvm-mt llvm-mt-14)
find_program(CMAKE_RC_COMPILER NAMES llvm-rc llvm-rc-14)
set(CMAKE_C_COMPILER_TARGET ${BREVLO_MSVC_TARGET})
# Without a C runtime to link, the compiler cannot be tried as CMake tries it.
set(CMAKE_C_COMPILER_WORKS TRUE)
set(CMAKE_C_STANDARD_LIBRARIES "" CACHE STRING "" FORCE)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
