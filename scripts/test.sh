#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# Install everything the tests use, build, and run every test.
set -e
cd "$(dirname "$0")/.."
scripts/deps.sh --test
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSTROBANE_BUILD_TESTS=ON >/dev/null
cmake --build build -j"$(nproc)"
ctest --test-dir build --output-on-failure --no-tests=error -j"$(nproc)"

# The conversion cross-built for 64-bit ARM and tested there under emulation.
scripts/arm_check.sh

# The whole suite again under AddressSanitizer and UndefinedBehaviorSanitizer, where
# any report fails (the tests that run the binary run it sanitized too); then each
# fuzz target for a bounded time under the same sanitizers.
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSTROBANE_SANITIZE=ON \
  -DSTROBANE_BUILD_BENCH=OFF >/dev/null
cmake --build build-asan -j"$(nproc)"
ctest --test-dir build-asan --output-on-failure --no-tests=error -j"$(nproc)"
scripts/fuzz.sh 60
