#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# Time the whole filter on a 500-page job of 4 x 6 in labels at 203 dpi beside
# read_floor, which only reads the same raster stream with libcups: wall time,
# CPU time and peak memory of each, runs interleaved, and the ratio of the best.
#
#   bench/filter_bench.sh [BUILD_DIR [RUNS]]     (defaults: build-bench, 5)
set -e
cd "$(dirname "$0")/.."
build=${1:-build-bench}
runs=${2:-5}
width=812
height=1218
pages=500

if [ ! -x /usr/bin/time ]; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq time
fi
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target strobane read_floor sample-raster >/dev/null

job="$build/bench-job-$pages.ras"
if [ ! -f "$job" ]; then
  "$build/sample-raster" "$job" "$pages" "$width" "$height"
fi
times=$(mktemp)
trap 'rm -f "$times"' EXIT

# Run one program on the job and append "name wall user system peakKiB" to the times.
measure() {
  name=$1
  shift
  env -u PPD /usr/bin/time -f "%e %U %S %M" -o "$times.one" "$@" < "$job" > /dev/null 2>&1
  echo "$name $(cat "$times.one")" >> "$times"
  rm -f "$times.one"
}

echo "job: $job ($pages pages of $width x $height gray, $(du -m "$job" | cut -f1) MiB)"
i=1
while [ "$i" -le "$runs" ]; do
  measure strobane "$build/strobane" 1 u t 1 ""
  measure read_floor "$build/bench/read_floor"
  i=$((i + 1))
done

awk -v pageBytes=$(( (width + 7) / 8 * 8 * height )) '
  { runs[$1]++
    printf "%-10s run %d: wall %6.2f s  cpu %6.2f s  peak %6.1f MiB\n", $1, runs[$1], $2, $3 + $4, $5 / 1024
    if (!($1 in wall) || $2 < wall[$1]) { wall[$1] = $2; cpu[$1] = $3 + $4; peak[$1] = $5 } }
  END {
    for (name in wall)
      printf "best %-10s wall %6.2f s  cpu %6.2f s  peak %6.1f MiB\n", name, wall[name], cpu[name], peak[name] / 1024
    printf "wall time, strobane / read_floor (best of each): %.2f\n", wall["strobane"] / wall["read_floor"]
    printf "peak memory of strobane: %.1f MiB (limit: twice one page of gray plus 8 MiB = %.1f MiB)\n",
           peak["strobane"] / 1024, (2 * pageBytes + 8 * 1048576) / 1048576
  }' "$times"
