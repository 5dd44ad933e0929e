# Debian packages the project needs, by purpose. Sourced by the other scripts.
BUILD_PACKAGES=(cmake make g++ binutils)
# python3 runs the model test; ImageMagick, gifsicle and Pillow make some of its GIFs.
TEST_PACKAGES=(googletest libgtest-dev pkg-config python3 python3-pil gifsicle imagemagick)
# The 32-bit Windows DLL: cross-compiler, its binutils (objdump, dlltool), and
# Wine to run the Windows host test.
WINDOWS_PACKAGES=(g++-mingw-w64-i686 binutils-mingw-w64-i686 wine wine32:i386)
