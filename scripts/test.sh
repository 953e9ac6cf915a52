#!/bin/sh
# Install everything the tests use, build, and run every test.
set -e
cd "$(dirname "$0")/.."
scripts/deps.sh --test
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSTROBANE_BUILD_TESTS=ON >/dev/null
cmake --build build -j"$(nproc)"
ctest --test-dir build --output-on-failure --no-tests=error -j"$(nproc)"

# The conversion cross-built for 64-bit ARM and tested there under emulation.
scripts/arm_check.sh
