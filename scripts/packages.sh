# Debian packages the project needs, by purpose. Sourced by the other scripts.
BUILD_PACKAGES=(cmake make g++ binutils)
# GNU parallel runs the README's recipe for spreading a batch over machines.
TEST_PACKAGES=(googletest libgtest-dev pkg-config python3 parallel)
# Independent decoders and encoders for the oracle and model tests, and the
# fuzzer (clang also builds the library and its tests as a second compiler).
HOSTILE_TEST_PACKAGES=(libgif-dev imagemagick gifsicle python3-pil
  clang-14 libfuzzer-14-dev libclang-rt-14-dev)
# The 32- and 64-bit Windows DLLs and brevlo.exe: cross-compilers (those of
# the POSIX thread model), their binutils (objdump, dlltool), LLVM's dlltool
# for the MSVC import libraries, clang-cl and lld-link to build a host program
# as MSVC does, and 32- and 64-bit Wine to run the Windows tests. Where the
# kernel cannot run i386 code, 32-bit Wine runs under qemu-i386 with a small
# i386 library preloaded, built with gcc -m32.
WINDOWS_PACKAGES=(g++-mingw-w64-i686 g++-mingw-w64-i686-posix binutils-mingw-w64-i686
  g++-mingw-w64-x86-64 g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  llvm-14 lld-14 clang-tools-14 wine wine32:i386 wine64 qemu-user-static gcc-multilib)
# The Debian package: dpkg-shlibdeps computes its dependencies from the
# binaries, which CPack finds with file; lintian checks the result.
PACKAGE_PACKAGES=(dpkg-dev file lintian)
BENCH_PACKAGES=(libgif-dev imagemagick gifsicle mate-backgrounds)
# The 32-bit x86 Linux build and its tests; qemu-i386 runs them where the
# kernel cannot start i386 programs.
I686_PACKAGES=(gcc-multilib g++-multilib libgtest-dev:i386 libgif-dev:i386 qemu-user-static)
# Counting instructions in both builds (scripts/count-instructions.sh).
COUNT_PACKAGES=(valgrind qemu-user-static)
