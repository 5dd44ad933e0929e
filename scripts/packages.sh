# Debian packages the project needs, by purpose. Sourced by the other scripts.
BUILD_PACKAGES=(cmake make g++ binutils)
TEST_PACKAGES=(googletest libgtest-dev)
BENCH_PACKAGES=(libgif-dev imagemagick mate-backgrounds)
