# Cross-compiles for Windows with Debian's MinGW-w64 toolchain. Included by the
# toolchain file of each processor, which sets CMAKE_SYSTEM_PROCESSOR and
# BREVLO_MINGW_PREFIX (the compilers' target triplet) first.
set(CMAKE_SYSTEM_NAME Windows)

# The compilers of the POSIX thread model, whose C++ library has std::mutex
# and std::condition_variable (the win32 model's lacks them before GCC 13),
# which the command uses; its thread library is linked in statically. The
# DLLs start no threads and come out the same from either model.
set(CMAKE_C_COMPILER ${BREVLO_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${BREVLO_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${BREVLO_MINGW_PREFIX}-windres)
set(CMAKE_AR ${BREVLO_MINGW_PREFIX}-ar CACHE FILEPATH "Archiver")
set(CMAKE_RANLIB ${BREVLO_MINGW_PREFIX}-ranlib CACHE FILEPATH "Archive indexer")

# Headers and libraries come from the MinGW sysroot only; programs (the
# compiler's helpers) from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${BREVLO_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
