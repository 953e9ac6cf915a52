#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# Build the libFuzzer targets with AddressSanitizer and UndefinedBehaviorSanitizer
# and run each for a bounded time; a crash, a sanitizer report, a leak or a timeout
# fails. Usage: scripts/fuzz.sh [SECONDS_PER_TARGET] (default 60).
set -e
cd "$(dirname "$0")/.."
seconds="${1:-60}"
scripts/deps.sh --fuzz
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DSTROBANE_FUZZ=ON -DSTROBANE_SANITIZE=ON -DSTROBANE_BUILD_TESTS=OFF \
  -DSTROBANE_BUILD_BENCH=OFF >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target fuzz-options fuzz-ppd fuzz-raster fuzz-app-page \
  leak-check

# libcups callocs one line of a compressed stream's cupsBytesPerLine (up to 4 GiB)
# before the filter sees the header; it stays untouched, so only RSS is capped. An
# allocation the system refuses returns null, as it would to the filter.
limits="-timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=4200 -max_len=65536"
export ASAN_OPTIONS=allocator_may_return_null=1
# The leak suppressions name functions, which only a symbolizer can read off a stack.
export ASAN_SYMBOLIZER_PATH=/usr/lib/llvm-14/bin/llvm-symbolizer
# fuzz-ppd alone reads PPDs and runs with the suppression of libcups' own loss; a
# leak of ours must still be reported under it.
suppressions="suppressions=$(pwd)/fuzz/lsan.supp"
if LSAN_OPTIONS="$suppressions" build-fuzz/fuzz/leak-check 2>/dev/null; then
  echo "the leak suppressions hide a leak that is not libcups' own" >&2
  exit 1
fi
summary=""
for target in options ppd raster app-page; do
  # New inputs go to a scratch corpus; the seeds in the repository stay as they are.
  work="build-fuzz/run/$target"
  rm -rf "$work"
  mkdir -p "$work/corpus" "$work/artifacts"
  echo "== fuzz-$target for ${seconds}s"
  status=0
  lsan=""
  [ "$target" != ppd ] || lsan="$suppressions"
  LSAN_OPTIONS="$lsan" \
    build-fuzz/fuzz/fuzz-$target -max_total_time="$seconds" $limits -print_final_stats=1 \
    -artifact_prefix="$work/artifacts/" "$work/corpus" "fuzz/corpus/$target" \
    >"$work/log" 2>&1 || status=$?
  if [ "$status" -ne 0 ]; then
    tail -n 60 "$work/log"
    echo "fuzz-$target failed (exit $status); the input is in $work/artifacts/" >&2
    exit 1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log")
  summary="$summary
fuzz-$target: $runs executions in ${seconds}s, no findings"
done
echo "$summary"
