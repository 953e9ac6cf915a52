#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# The quick loop for a change: configure build/ unless it is already, build, and run the
# unit and process tests that neither need root nor take long (ctest -L 'unit|process'
# -LE 'root|slow'): the libraries in-process, the filter, viewer and virtual printer as
# binaries, and the printer application's server inside a test program with virtual
# printers for devices; without the servers of the e2e tests. It runs as any user and installs
# nothing; the dependencies come from scripts/deps.sh --test. scripts/test.sh stays the
# full suite, the one CI runs.
set -e
cd "$(dirname "$0")/.."
if [ ! -f build/CMakeCache.txt ]; then
  cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSTROBANE_BUILD_TESTS=ON >/dev/null
fi
cmake --build build -j"$(nproc)"
ctest --test-dir build --output-on-failure --no-tests=error -j"$(nproc)" \
  -L 'unit|process' -LE 'root|slow'
