#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# Time the whole filter in each of its five modes beside read_floor, which only reads
# the same raster stream with libcups: wall time, CPU time and peak memory of each,
# runs interleaved, and the ratios of the best. Two jobs: 500 pages of 4 x 6 in labels
# at 203 dpi, and 20 pages of 4 x 13 in labels at 600 dpi. Before timing, the filter's
# output in every mode is checked against the checksums of what the filter wrote when
# it still read each page whole before converting it.
#
#   bench/filter_bench.sh [BUILD_DIR [RUNS]]     (defaults: build-bench, 5)
set -e
cd "$(dirname "$0")/.."
build=${1:-build-bench}
runs=${2:-5}

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target strobane-bench read_floor time_run sample-raster >/dev/null
# The filter's own code, with its diagnostic log in the build folder.
filter="$build/bench/strobane-bench"
floor="$build/bench/read_floor"

# The SHA-256 of the filter's output (options "PrintMode=N") for each job and mode.
reference() {
  case "$1 $2" in
  "4x6 0") echo 1f08a6d0fa6b1d8b8f191cdceac8b2281cce6461e543fabf909deadfee344705 ;;
  "4x6 1") echo 2fac71e86cfba4b9fd5057a2760c794f314742559174cfa93e8cbfb91c6a74f7 ;;
  "4x6 2") echo 979695a9dd19e1c933fdf7095d68dfb26e13c6255d8dd32a6c575dee1659365a ;;
  "4x6 3") echo 5047f2146fc28f40f68d818fd08d5e47ac9a37c240af745f5ee48bdc513ddcab ;;
  "4x6 4") echo 4670d757084e423e57db03fad3a20c098420f5c8e415f0d3e0a6fea3ae44df7e ;;
  "4x13 0") echo 2e49527827107379ed591b175cdfd3cfd6b1aa0db036e4a07aebb851fa757bc4 ;;
  "4x13 1") echo 21a266b51a61ac30e3e043441bcd48febe78cddbb4a22519dc97e80614e876df ;;
  "4x13 2") echo 20015df90bc331819b36200402aa17e8bd34389c43c3c76233f25a8e54068b8d ;;
  "4x13 3") echo e3dba25f6201d58bcbfbe148342af2408d0b61761a2061b9acdf26826792a613 ;;
  "4x13 4") echo b69c86fd584f890733b502c0c01bfbe4fe343258605c0c50d416f53f67c2b729 ;;
  esac
}

times=$(mktemp)
trap 'rm -f "$times"' EXIT

# Run one program on the job and append "name wall user system peakKiB" to the times.
measure() {
  name=$1
  shift
  echo "$name $(env -u PPD "$build/bench/time_run" "$job" "$@")" >>"$times"
}

# Check, then time, one job: NAME PAGES WIDTH HEIGHT DPI.
bench_job() {
  label=$1
  pages=$2
  job="$build/bench-job-$label-$pages.ras"
  if [ ! -f "$job" ]; then
    "$build/sample-raster" "$job" "$pages" "$3" "$4" 1 cups "$5"
  fi
  echo "job: $job ($pages pages of $3 x $4 gray at $5 dpi, $(du -m "$job" | cut -f1) MiB)"
  for mode in 0 1 2 3 4; do
    sum=$(env -u PPD "$filter" 1 u t 1 "PrintMode=$mode" <"$job" 2>/dev/null | sha256sum | cut -d' ' -f1)
    if [ "$sum" != "$(reference "$label" "$mode")" ]; then
      echo "output check: mode $mode differs from the reference output ($sum)" >&2
      exit 1
    fi
  done
  echo "output check: the same bytes as the reference in modes 0 to 4"

  : >"$times"
  i=1
  while [ "$i" -le "$runs" ]; do
    measure read_floor "$floor"
    for mode in 0 1 2 3 4; do
      measure "mode$mode" "$filter" 1 u t 1 "PrintMode=$mode"
    done
    i=$((i + 1))
  done

  awk -v limits="$6" '
    { if (!($1 in wall)) order[++count] = $1
      if (!($1 in wall) || $2 < wall[$1]) wall[$1] = $2
      if (!($1 in cpu) || $3 + $4 < cpu[$1]) cpu[$1] = $3 + $4
      if ($5 > peak[$1]) peak[$1] = $5 }
    END {
      printf "%-10s %7s %7s %10s %7s %7s %9s\n", "program", "wall s", "cpu s", "peak MiB",
             "x wall", "x cpu", "+peak MiB"
      for (i = 1; i <= count; i++) {
        n = order[i]
        printf "%-10s %7.3f %7.3f %10.2f %7.3f %7.3f %9.2f\n", n, wall[n], cpu[n], peak[n] / 1024,
               wall[n] / wall["read_floor"], cpu[n] / cpu["read_floor"],
               (peak[n] - peak["read_floor"]) / 1024
        if (n != "read_floor") {
          worstWall = wall[n] / wall["read_floor"] > worstWall ? wall[n] / wall["read_floor"] : worstWall
          worstPeak = peak[n] - peak["read_floor"] > worstPeak ? peak[n] - peak["read_floor"] : worstPeak
        }
      }
      printf "(best wall and best CPU of %d runs each, highest peak)\n", NR / count
      if (limits) {
        printf "wall time within 1.1 x the read floor in every mode: %s (worst %.3f)\n",
               worstWall <= 1.1 ? "met" : "NOT met", worstWall
        printf "peak memory within 0.5 MiB of the read floor: %s (worst +%.2f MiB)\n",
               worstPeak <= 512 ? "met" : "NOT met", worstPeak / 1024
      }
    }' "$times"
}

bench_job 4x6 500 812 1218 203 limits
echo
bench_job 4x13 20 2400 7800 600 ""
