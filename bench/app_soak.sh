#!/bin/bash
# SPDX-License-Identifier: Apache-2.0
# Soak the printer application: 1000 small label jobs through IPP to a file:// device,
# with its jobs per second and its memory after 10 and after 1000 jobs; then a job of
# 4 x 6 in pages through it beside the filter on the same PWG raster, for the time per
# page of each, and its peak memory after those; last, the same number of jobs in PWG,
# URF, PNG and JPEG from 8 clients at once on two printers: every job ends, every label
# arrives, and its memory stays flat. A benchmark, run by hand (docs/performance.md).
#
#   bench/app_soak.sh [BUILD_DIR [JOBS [PAGES [RUNS]]]]   (defaults: build-bench, 1000, 200, 5)
set -euo pipefail
# shellcheck source=tests/local_server.sh
. "$(dirname "$0")/../tests/local_server.sh"
export LC_ALL=C
cd "$(dirname "$0")/.."
build=${1:-build-bench}
jobs=${2:-1000}
pages=${3:-200}
runs=${4:-5}
warmup=10
[ "$jobs" -gt "$warmup" ] || { echo "app_soak: JOBS must be above $warmup" >&2; exit 2; }

scripts/deps.sh --bench
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target strobane-printer-app strobane-bench strobane-view \
  sample-raster >/dev/null

work=$(mktemp -d /tmp/strobane-soak.XXXXXX)
# The application names its local socket and default state after argv[0]: a name of
# the benchmark's own keeps an installed service's socket and state untouched.
name="strobane-soak-$$"
ln -s "$(readlink -f "$build/app/strobane-printer-app")" "$work/$name"
app_pid=
cleanup() {
  if [ -n "$app_pid" ]; then
    kill "$app_pid" 2>/dev/null || true
    for _ in $(seq 100); do
      kill -0 "$app_pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -KILL "$app_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' HUP INT TERM

fail() {
  echo "app_soak: $*" >&2
  tail -n 20 "$work/app.log" >&2 2>/dev/null || true
  exit 1
}

# Start the application at its default log level with its own state, spool and log,
# and add a 203 dpi printer that prints into a file.
start_printer_app "$work/$name" "$work" -o server-options=no-tls
: >"$work/out.prn"
"$work/$name" add -d soak -m strb203 -v "file://$work/out.prn" || fail "could not add the printer"
uri="ipp://127.0.0.1:$port/ipp/print/soak"

# The Print-Job of $filename with media $media that print.test repeats; prints the
# new job's id.
cat >"$work/print-one.test" <<'EOF'
{
  NAME "print"
  OPERATION Print-Job
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri $uri
  ATTR name requesting-user-name soak
  ATTR mimeMediaType document-format image/pwg-raster
  GROUP job-attributes-tag
  ATTR keyword media $media
  FILE $filename
  STATUS successful-ok
  EXPECT job-id
  DISPLAY job-id
}
EOF
# Wait, polling every 10 ms, until job $job has ended; prints its state.
wait_test 0.01 100000 >"$work/wait.test"

# Send COUNT jobs of FILE with MEDIA, one after the other from one ipptool, and wait
# until the last has ended, unless a fourth argument says nowait (a paused printer);
# sets $last_job.
send_jobs() {
  local count=$1 file=$2 media=$3 wait=${4:-wait} out
  for _ in $(seq "$count"); do cat "$work/print-one.test"; done >"$work/print.test"
  out=$(ipptool -t -d media="$media" -f "$file" "$uri" "$work/print.test" 2>&1) ||
    fail "ipptool: $(echo "$out" | tail -n 5)"
  last_job=$(echo "$out" | sed -n 's/^ *job-id (integer) = //p' | tail -n 1)
  [ -n "$last_job" ] || fail "no job id from ipptool: $(echo "$out" | tail -n 5)"
  [ "$wait" = nowait ] ||
    out=$(ipptool -d job="$last_job" "$uri" "$work/wait.test" 2>&1) || fail "ipptool: $out"
}

# Print the application's peak and current resident memory in KiB.
memory() {
  awk '/^VmHWM:/ { hwm = $2 } /^VmRSS:/ { rss = $2 } END { print hwm, rss }' \
    "/proc/$app_pid/status"
}

# The application's CPU time (user and system) so far, in clock ticks.
cpu_ticks() {
  awk '{ print $14 + $15 }' "/proc/$app_pid/stat"
}

# The time now, in seconds with nanoseconds.
now() {
  date +%s.%N
}

# The seconds from one time of now() to another.
seconds_between() {
  awk -v from="$1" -v to="$2" 'BEGIN { print to - from }'
}

# Every label that reached the device: the viewer reads the stream back and counts them.
count_labels() {
  local summary
  summary=$("$build/strobane-view" --check "$work/out.prn" 2>/dev/null) ||
    fail "the device received a malformed stream"
  echo "$summary" | grep -c '^label ' || true
}

echo "== soak: $jobs jobs of one 2 x 1 in PWG page (406 x 203 dots) to file://"
"$build/sample-raster" "$work/small.pwg" 1 406 203 1 pwg
start=$(now)
send_jobs "$warmup" "$work/small.pwg" oe_2x1-label_2x1in
warm=$(now)
read -r hwm10 rss10 <<<"$(memory)"
send_jobs $((jobs - warmup)) "$work/small.pwg" oe_2x1-label_2x1in
end=$(now)
read -r hwm1000 rss1000 <<<"$(memory)"
printed=$(count_labels)
[ "$printed" = "$jobs" ] || fail "$printed labels reached the device for $jobs jobs"

echo "== $pages-page job of 4 x 6 in pages (812 x 1218 dots), $runs runs beside the filter"
"$build/sample-raster" "$work/big.pwg" "$pages" 812 1218 1 pwg
times="$work/times"
for run in $(seq "$runs"); do
  : >"$work/out.prn"
  ticks=$(cpu_ticks)
  t0=$(now)
  send_jobs 1 "$work/big.pwg" na_index-4x6_4x6in
  t1=$(now)
  echo "app $run $(seconds_between "$t0" "$t1") $(($(cpu_ticks) - ticks))" >>"$times"
  [ "$(count_labels)" = "$pages" ] || fail "the big job did not print $pages labels"
  t0=$(now)
  env -u PPD /usr/bin/time -f "%U %S" -o "$work/time.one" "$build/bench/strobane-bench" 1 u t 1 \
    "PageSize=4.00x6.00in" <"$work/big.pwg" >"$work/filter.prn" 2>/dev/null
  t1=$(now)
  awk -v run="$run" -v wall="$(seconds_between "$t0" "$t1")" -v ticks="$(getconf CLK_TCK)" \
    '{ print "filter", run, wall, ($1 + $2) * ticks }' "$work/time.one" >>"$times"
done
read -r hwmBig rssBig <<<"$(memory)"

echo "== mixed: $jobs jobs of PWG, URF, PNG and JPEG labels from 8 clients at once, on two printers"
"$build/sample-raster" "$work/small.urf" 1 406 203 1 urf
python3 -c 'import sys; w, h = 406, 203; sys.stdout.buffer.write(b"P5 %d %d 255\n" % (w, h) +
  bytes(0 if (x // 8 + y // 8) % 2 else 255 for y in range(h) for x in range(w)))' >"$work/small.pgm"
pnmtopng "$work/small.pgm" >"$work/small.png" 2>/dev/null
pnmtojpeg "$work/small.pgm" >"$work/small.jpg"
: >"$work/out2.prn"
"$work/$name" add -d soak2 -m strb203 -v "file://$work/out2.prn" || fail "could not add soak2"
sed 's|document-format image/pwg-raster|document-format $format|' "$work/print-one.test" \
  >"$work/print-format.test"
: >"$work/out.prn"
mixed_client() {
  local client=$1 count=$2 k kind printer
  local kinds=(pwg:image/pwg-raster urf:image/urf png:image/png jpg:image/jpeg)
  for k in $(seq "$count"); do
    kind=${kinds[$(((client + k) % 4))]}
    printer=soak
    [ $(((client + k) % 3)) = 0 ] && printer=soak2
    ipptool -d media=oe_2x1-label_2x1in -d format="${kind#*:}" -f "$work/small.${kind%%:*}" \
      "ipp://127.0.0.1:$port/ipp/print/$printer" "$work/print-format.test" >/dev/null 2>&1 ||
      echo "client $client: job $k refused" >>"$work/mixed.errors"
  done
}
mixed_start=$(now)
clients=()
for client in $(seq 8); do
  mixed_client "$client" $((jobs / 80)) &
  clients+=($!)
done
wait "${clients[@]}"
read -r hwmMixed10 rssMixed10 <<<"$(memory)"
clients=()
for client in $(seq 8); do
  mixed_client "$client" $((jobs / 8 - jobs / 80)) &
  clients+=($!)
done
wait "${clients[@]}"
[ ! -s "$work/mixed.errors" ] || fail "jobs refused: $(head -n 5 "$work/mixed.errors")"
for _ in $(seq 600); do
  left=$({ "$work/$name" jobs -d soak; "$work/$name" jobs -d soak2; } |
    grep -cE " (pending|processing|held) " || true)
  [ "$left" = 0 ] && break
  sleep 0.1
done
[ "$left" = 0 ] || fail "$left jobs never ended"
mixed_end=$(now)
read -r hwmMixed rssMixed <<<"$(memory)"
mixedLabels=0
for out in out.prn out2.prn; do
  n=$("$build/strobane-view" --check "$work/$out" 2>/dev/null | grep -c '^label ') ||
    fail "$out is not whole blocks"
  mixedLabels=$((mixedLabels + n))
done
[ "$mixedLabels" = $((jobs / 8 * 8)) ] ||
  fail "$mixedLabels labels reached the devices for $((jobs / 8 * 8)) jobs"
kill -0 "$app_pid" 2>/dev/null || fail "the application ended"
awk -v jobs=$((jobs / 8 * 8)) -v first=$((jobs / 80 * 8)) -v start="$mixed_start" \
  -v end="$mixed_end" -v hwm10="$hwmMixed10" -v hwm="$hwmMixed" -v rss="$rssMixed" 'BEGIN {
  printf "mixed: %d jobs, every one printed and ended, in %.1f s (%.1f a second)\n", jobs,
         end - start, jobs / (end - start)
  printf "mixed: peak RSS after %d jobs %.1f MiB, after %d %.1f MiB (now %.1f MiB): growth %.2f MiB\n",
         first, hwm10 / 1024, jobs, hwm / 1024, rss / 1024, (hwm - hwm10) / 1024 }'

echo "== queued: $jobs jobs of the 2 x 1 in PWG page to a paused printer, spooled, then printed"
"$work/$name" pause -d soak
: >"$work/out.prn"
queued_start=$(now)
send_jobs "$warmup" "$work/small.pwg" oe_2x1-label_2x1in nowait
read -r hwmQueued10 _ <<<"$(memory)"
send_jobs $((jobs - warmup)) "$work/small.pwg" oe_2x1-label_2x1in nowait
queued_end=$(now)
read -r hwmQueued rssQueued <<<"$(memory)"
spooled=$(du -sk "$work/spool" | cut -f1)
"$work/$name" resume -d soak
for _ in $(seq 1200); do
  [ "$(count_labels)" = "$jobs" ] && break
  sleep 0.1
done
[ "$(count_labels)" = "$jobs" ] || fail "$(count_labels) of the $jobs queued jobs printed"
drained=$(now)
awk -v jobs="$jobs" -v warmup="$warmup" -v start="$queued_start" -v end="$queued_end" \
  -v drained="$drained" -v hwm10="$hwmQueued10" -v hwm="$hwmQueued" -v rss="$rssQueued" \
  -v spooled="$spooled" 'BEGIN {
  printf "queued: %d jobs taken in %.1f s (%.1f a second) while paused, %.1f MiB spooled; printed in %.1f s after the resume\n",
         jobs, end - start, jobs / (end - start), spooled / 1024, drained - end
  printf "queued: peak RSS after %d jobs %.1f MiB, after %d %.1f MiB (now %.1f MiB): growth %.2f MiB\n",
         warmup, hwm10 / 1024, jobs, hwm / 1024, rss / 1024, (hwm - hwm10) / 1024 }'

awk -v jobs="$jobs" -v warmup="$warmup" -v start="$start" -v warm="$warm" -v end="$end" \
  -v hwm10="$hwm10" -v rss10="$rss10" -v hwm1000="$hwm1000" -v rss1000="$rss1000" \
  -v hwmBig="$hwmBig" -v rssBig="$rssBig" -v pages="$pages" -v ticks="$(getconf CLK_TCK)" '
  { printf "%-6s run %d: wall %6.3f s  cpu %6.2f s  (%.2f ms a page)\n", $1, $2, $3, $4 / ticks,
           $3 * 1000 / pages
    if (!($1 in wall) || $3 < wall[$1]) wall[$1] = $3
    if (!($1 in cpu) || $4 < cpu[$1]) cpu[$1] = $4 }
  END {
    printf "\njobs per second: %.1f (%d jobs in %.2f s; the last %d at %.1f a second)\n",
           jobs / (end - start), jobs, end - start, jobs - warmup, (jobs - warmup) / (end - warm)
    printf "peak RSS after %d jobs: %.1f MiB (now %.1f MiB)\n", warmup, hwm10 / 1024, rss10 / 1024
    printf "peak RSS after %d jobs: %.1f MiB (now %.1f MiB)\n", jobs, hwm1000 / 1024, rss1000 / 1024
    printf "peak RSS after the %d-page jobs: %.1f MiB (now %.1f MiB)\n", pages, hwmBig / 1024,
           rssBig / 1024
    growth = (hwm1000 - hwm10) / 1024
    printf "peak RSS growth: %.2f MiB, %.2f KiB a job (target: at most 5 MiB) %s\n", growth,
           (hwm1000 - hwm10) / (jobs - warmup), (growth <= 5 ? "met" : "MISSED")
    printf "time a 4 x 6 in page, best of the runs: application %.2f ms (cpu %.2f ms), filter %.2f ms (cpu %.2f ms)\n",
           wall["app"] * 1000 / pages, cpu["app"] * 1000 / ticks / pages,
           wall["filter"] * 1000 / pages, cpu["filter"] * 1000 / ticks / pages
    ratio = wall["app"] / wall["filter"]
    printf "application / filter, wall: %.2f (target: at most 2) %s; cpu: %s\n", ratio,
           (ratio <= 2 ? "met" : "MISSED"),
           (cpu["filter"] > 0 ? sprintf("%.2f", cpu["app"] / cpu["filter"]) : "too short to tell")
  }' "$times"
