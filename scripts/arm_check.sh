#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# Cross-build the conversion and its GoogleTest tests for 64-bit ARM and run them
# under qemu-user, so the portable fast path is proven on a second architecture.
set -e
cd "$(dirname "$0")/.."
scripts/deps.sh --arm

out=build-arm
cxx=aarch64-linux-gnu-g++
flags="-std=c++20 -O2 -Wall -Wextra -Werror"
gtest=/usr/src/googletest/googletest
mkdir -p "$out"

# GoogleTest from Debian's sources, built once per build folder for the target.
if [ ! -f "$out/gtest.a" ]; then
  $cxx -std=c++20 -O2 -I"$gtest/include" -I"$gtest" -c "$gtest/src/gtest-all.cc" -o "$out/gtest-all.o"
  $cxx -std=c++20 -O2 -I"$gtest/include" -c "$gtest/src/gtest_main.cc" -o "$out/gtest_main.o"
  aarch64-linux-gnu-ar rcs "$out/gtest.a" "$out/gtest-all.o" "$out/gtest_main.o"
fi

$cxx $flags -I. -isystem "$gtest/include" -DSTROBANE_LOG_PATH='"/dev/null"' \
  render/gray2bytes.cpp log/diag_log.cpp tests/gray2bytes_test.cpp "$out/gtest.a" -pthread \
  -o "$out/gray2bytes_test"
qemu-aarch64 -L /usr/aarch64-linux-gnu "$out/gray2bytes_test" --gtest_brief=1
echo "arm_check: the conversion tests pass on aarch64"
