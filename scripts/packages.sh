# Debian packages the project needs, by purpose. Sourced by the other scripts.
BUILD_PACKAGES=(cmake make g++ binutils)
TEST_PACKAGES=(googletest libgtest-dev)
# Independent decoders and encoders for the oracle tests, and the fuzzer.
HOSTILE_TEST_PACKAGES=(libgif-dev imagemagick gifsicle python3-pil
  clang-14 libfuzzer-14-dev libclang-rt-14-dev)
