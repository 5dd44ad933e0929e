# Debian packages the project needs, by purpose. Sourced by the other scripts.
BUILD_PACKAGES=(cmake make g++ binutils)
TEST_PACKAGES=(googletest libgtest-dev pkg-config python3)
# Independent decoders and encoders for the oracle and model tests, and the fuzzer.
HOSTILE_TEST_PACKAGES=(libgif-dev imagemagick gifsicle python3-pil
  clang-14 libfuzzer-14-dev libclang-rt-14-dev)
# The 32-bit Windows DLL: cross-compiler, its binutils (objdump, dlltool), and
# Wine to run the Windows host test.
WINDOWS_PACKAGES=(g++-mingw-w64-i686 binutils-mingw-w64-i686 wine wine32:i386)
BENCH_PACKAGES=(libgif-dev imagemagick mate-backgrounds)
# The 32-bit x86 Linux build and its tests; qemu-i386 runs them where the
# kernel cannot start i386 programs.
I686_PACKAGES=(gcc-multilib g++-multilib libgtest-dev:i386 libgif-dev:i386 qemu-user-static)
