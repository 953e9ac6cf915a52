#!/bin/bash
# SPDX-License-Identifier: Apache-2.0
# Two printers that take their data late print at once, one job cancelled; then the
# application is stopped while a job prints.
# shellcheck source=tests/app/lib.sh
. "$(dirname "$0")/lib.sh"

# Drop the one status query (ESC ! ?) that a device that never answers gets before
# the first block, leaving the blocks that the viewer checks.
drop_status_query() {
  if [ "$(head -c 3 "$1")" = $'\e!?' ]; then
    tail -c +4 "$1" >"$1.blocks"
    mv "$1.blocks" "$1"
  fi
}

# Check that a stream is whole blocks of which the last, cut by a cancel or a stop,
# lacks its PRINT line; set $labels to how many labels it prints.
whole_blocks() {
  local out status=0
  [ -s "$1" ] || fail "$1 is missing"
  drop_status_query "$1"
  out=$("$viewer" --check --dpi 304.8 "$1" 2>&1) || status=$?
  if [ "$status" = 0 ] || ! echo "$out" | tail -n 1 | grep -q "block without PRINT: expected \"PRINT 1,\" but found the end of the stream"; then
    fail "$1 is not whole blocks ending in one without PRINT: $out"
  fi
  labels=$(echo "$out" | grep -c "^label.*copies [0-9]" || true)
}

# Wait until the stall printer's connection N (from 1) has been read to its end.
wait_for_stream() {
  for _ in $(seq 600); do
    [ -e "$1.done" ] && return
    sleep 0.1
  done
  fail "$1 did not arrive in 60 s"
}

part_slow() {
  start_app
  local p1 p2 start
  p1=$(free_port)
  p2=$(free_port)
  python3 "$data/stall_printer.py" "$p1" "$work/out/slow1" 10 &
  stall_pids="$!"
  python3 "$data/stall_printer.py" "$p2" "$work/out/slow2" 3 &
  stall_pids="$stall_pids $!"
  "$work/$name" add -d slow1 -m strb300 -v "socket://127.0.0.1:$p1" || fail "could not add slow1"
  "$work/$name" add -d slow2 -m strb300 -v "socket://127.0.0.1:$p2" || fail "could not add slow2"
  # More data than the sockets buffer: four 4 x 39 in labels at 300 dpi (7 MB of
  # blocks), and 15 collated copies of two 4 x 6 in labels (8 MB), sent again for each copy.
  "$sample" "$work/long.pwg" 4 1248 11700 1 pwg 300
  "$sample" "$work/pair.pwg" 2 1200 1800 1 pwg 300
  job_test copies=15 >"$work/copies.test"
  ipptool -d filetype=image/pwg-raster -f "$work/pair.pwg" "$uri/slow1" "$work/copies.test" \
    >"$work/slow1.out" 2>&1 &
  ipptool_when_idle -d filetype=image/pwg-raster -f "$work/long.pwg" "$uri/slow2" \
    "$tests/print-job.test" >"$work/slow2.out" &
  # Cancel once the application is blocked in a write to slow1: its send queue full and
  # still, so that the cancel lands inside a block, however fast the build converts.
  local queued last=-1
  for _ in $(seq 200); do
    queued=$(ss -Htn state established "( dport = :$p1 )" | awk '{ print $2; exit }')
    [ "${queued:-0}" -gt 0 ] && [ "$queued" = "$last" ] && break
    last=${queued:-0}
    sleep 0.2
  done
  [ "${queued:-0}" -gt 0 ] && [ "$queued" = "$last" ] || fail "slow1's socket never filled"
  ipptool -t "$uri/slow1" "$tests/cancel-current-job.test" >"$work/cancel.out" 2>&1 ||
    { cat "$work/cancel.out"; fail "Cancel-Current-Job on slow1"; }
  wait_for_stream "$work/out/slow1-1.prn"
  wait_for_stream "$work/out/slow2-1.prn"
  whole_blocks "$work/out/slow1-1.prn"
  [ "$labels" -lt 30 ] || fail "slow1: the cancelled job printed all $labels labels"
  local cancelled=$labels
  fetch "http://127.0.0.1:$port/slow1/last-label" | grep -q "Not printed: its job was cancelled" ||
    fail "slow1: the Last Label page does not say that the cut label was not printed"
  drop_status_query "$work/out/slow2-1.prn"
  [ "$("$viewer" --check --dpi 304.8 "$work/out/slow2-1.prn" 2>/dev/null | grep -cE "copies 1(,|$)")" = 4 ] ||
    fail "slow2: 4 labels expected"
  echo "slow: two printers at once; the cancelled job printed $cancelled of 30 labels, the other 4 of 4"

  # Stopped while a job prints: the begun block is completed without PRINT, no further
  # page is sent, and the application ends once the printer has taken the block.
  ipptool_when_idle -d filetype=image/pwg-raster -f "$work/long.pwg" "$uri/slow2" \
    "$tests/print-job.test" >/dev/null &
  sleep 1.5
  start=$SECONDS
  kill -TERM "$app_pid"
  for _ in $(seq 300); do
    kill -0 "$app_pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -0 "$app_pid" 2>/dev/null && fail "the application still runs 30 s after SIGTERM"
  app_pid=
  wait_for_stream "$work/out/slow2-2.prn"
  whole_blocks "$work/out/slow2-2.prn"
  [ "$labels" -lt 4 ] || fail "stop: the job went on to print all $labels labels"
  echo "slow: stopped in $((SECONDS - start)) s with a job printing; $labels of 4 labels printed, no block cut"
}

part_slow
echo "printer application (slow): all checks passed"
