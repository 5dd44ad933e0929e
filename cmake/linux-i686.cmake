# Builds for 32-bit x86 Linux with the build machine's GCC and its multilib
# support (-m32), against Debian's i386 packages (giflib, GoogleTest).
#
# Where this machine's kernel cannot start i386 programs, the tests run them
# through qemu-i386-static: correct results, but timings that mean nothing.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)

# -m32 travels with the compiler, into every compile and link, so that flags
# given on the command line cannot drop it.
set(CMAKE_C_COMPILER gcc -m32)
set(CMAKE_CXX_COMPILER g++ -m32)

# Libraries and package files come from the i386 multiarch folders.
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/i386-linux-gnu/pkgconfig:/usr/share/pkgconfig")

# Compiles and starts a trivial i386 program once per build folder; the answer
# is cached, as this file is read again for every compiler check.
if(NOT DEFINED BREVLO_I686_RUNS_DIRECTLY)
  set(probe_dir "${CMAKE_BINARY_DIR}/CMakeFiles/i686-probe")
  file(WRITE "${probe_dir}/probe.c" "int main(void) { return 0; }\n")
  execute_process(COMMAND gcc -m32 probe.c -o probe
    WORKING_DIRECTORY "${probe_dir}" RESULT_VARIABLE built OUTPUT_QUIET ERROR_QUIET)
  set(runs OFF)
  if(built EQUAL 0)
    execute_process(COMMAND "${probe_dir}/probe" RESULT_VARIABLE ran OUTPUT_QUIET ERROR_QUIET)
    if(ran EQUAL 0)
      set(runs ON)
    endif()
  endif()
  set(BREVLO_I686_RUNS_DIRECTLY ${runs} CACHE BOOL "i386 programs start without an emulator")
endif()

if(NOT BREVLO_I686_RUNS_DIRECTLY)
  find_program(BREVLO_QEMU_I386 qemu-i386-static REQUIRED)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${BREVLO_QEMU_I386}")
endif()
