#!/bin/bash
# SPDX-License-Identifier: Apache-2.0
# A cancel and a stop on a printer behind a slow link: the virtual printer, printing in
# real time, reached through a link that passes RATE bytes a second (40000, about one
# 4 x 6 in label at 2 in/s, and 4000), takes a job of 60 such labels. The job is
# cancelled 1.5 s after its third label came out, while the next is on its way, and
# another is stopped (SIGTERM) at the same point: how long each took, and how many
# labels came out after it. A benchmark, run by hand
# (docs/performance.md).
#
#   bench/slow_printer.sh [BUILD_DIR [RATES...]]   (defaults: build-bench, 40000 4000)
set -euo pipefail
# shellcheck source=tests/local_server.sh
. "$(dirname "$0")/../tests/local_server.sh"
export LC_ALL=C
cd "$(dirname "$0")/.."
build=${1:-build-bench}
shift $(($# > 0 ? 1 : 0))
rates=("${@:-40000}")
[ $# -gt 0 ] || rates=(40000 4000)

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target strobane-printer-app strobane-virtual-printer \
  sample-raster >/dev/null

work=$(mktemp -d /tmp/strobane-slow.XXXXXX)
name="strobane-slow-$$"
ln -s "$(readlink -f "$build/app/strobane-printer-app")" "$work/$name"
app_pid= helpers=
cleanup() {
  [ -z "$app_pid" ] || kill -KILL "$app_pid" 2>/dev/null || true
  [ -z "$helpers" ] || kill $helpers 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' HUP INT TERM
fail() {
  echo "slow_printer: $*" >&2
  exit 1
}

"$build/sample-raster" "$work/labels.pwg" 60 812 1218 1 pwg >/dev/null

# The labels that the virtual printer has printed so far.
labels_out() { grep -c "^label " "$work/virtual.out" || true; }

# Wait until the printer has printed N labels.
wait_labels() {
  for _ in $(seq 3000); do
    [ "$(labels_out)" -ge "$1" ] && return
    sleep 0.1
  done
  fail "the printer printed $(labels_out) labels, not $1"
}

# Milliseconds since the epoch.
now_ms() { echo $(($(date +%s%N) / 1000000)); }

for rate in "${rates[@]}"; do
  "$build/strobane-virtual-printer" --port 0 --buffer 128K -o "$work/virtual" \
    >"$work/virtual.out" 2>&1 &
  helpers="$helpers $!"
  for _ in $(seq 50); do
    vport=$(sed -n 's/^listening 127.0.0.1://p' "$work/virtual.out")
    [ -z "$vport" ] || break
    sleep 0.1
  done
  link=$(free_port)
  python3 tests/data/slow_link.py "$link" "$vport" "$rate" &
  helpers="$helpers $!"
  sleep 0.5
  for what in cancel stop; do
    rm -f "$work/app.state" "$work/app.log"
    start_printer_app "$work/$name" "$work" -o server-options=no-tls
    "$work/$name" add -d slow -m strb203 -v "socket://127.0.0.1:$link" -o print-speed=5080 ||
      fail "could not add the printer"
    before=$(labels_out)
    "$work/$name" submit -d slow -o print-speed=5080 "$work/labels.pwg" >/dev/null 2>&1 &
    submit_pid=$!
    wait_labels $((before + 3))
    sleep 1.5
    at=$(labels_out) t0=$(now_ms)
    if [ "$what" = cancel ]; then
      "$work/$name" cancel -d slow -a >/dev/null
      for _ in $(seq 2400); do
        grep -q "\] Canceled, job-impressions" "$work/app.log" && break
        sleep 0.05
      done
    else
      kill -TERM "$app_pid"
      while kill -0 "$app_pid" 2>/dev/null; do sleep 0.05; done
    fi
    took=$(($(now_ms) - t0))
    [ "$what" = stop ] || { kill -TERM "$app_pid"; while kill -0 "$app_pid" 2>/dev/null; do sleep 0.05; done; }
    app_pid=
    wait "$submit_pid" || true
    # What the kernel still held for the printer arrives within a block's time on the link.
    sleep $((8 + 130000 / rate))
    echo "slow_printer: $rate B/s: $what took $took ms; $(($(labels_out) - at)) labels came out after it"
  done
  kill $helpers 2>/dev/null || true
  helpers=
done
