#!/bin/bash
# SPDX-License-Identifier: Apache-2.0
# 32 clients at once on two printers, every format, cancels and a stop while jobs wait;
# after a restart the printers are back and every job ends.
# shellcheck source=tests/app/lib.sh
. "$(dirname "$0")/lib.sh"

# Check that a stream is whole blocks, where a block cut by a cancel or a stop may lack
# its PRINT line and be followed by the next job's blocks.
blocks_cut_or_whole() {
  local offset=0 out status at
  while :; do
    status=0
    out=$(tail -c +$((offset + 1)) "$1" | "$viewer" --check --dpi "$2" 2>&1 >/dev/null) || status=$?
    [ "$status" = 0 ] && return
    out=$(echo "$out" | grep "byte [0-9]*:" | tail -n 1)
    at=$(echo "$out" | sed -n 's/.*byte \([0-9]*\): block without PRINT: expected "PRINT 1," but found .*/\1/p')
    [ -n "$at" ] || fail "$1 is not whole blocks (from byte $offset): $out"
    [[ "$out" == *"found the end of the stream"* ]] && return
    offset=$((offset + at))
  done
}

# Tens of clients at once on two printers, every format, two jobs cancelled and the
# server stopped while jobs still wait: it stops within the unit's bound, comes back with
# its printers, finishes or ends every job, and each device holds whole blocks only.
part_busy() {
  start_app -o server-options=no-tls -o log-level=info
  "$sample" "$work/p203.pwg" 40 812 1218 1 pwg 203
  "$sample" "$work/p300.pwg" 20 1200 1800 1 pwg 300
  "$sample" "$work/p203.urf" 40 812 1218 1 urf 203
  python3 "$data/gray_label.py" "$work/label.pgm" >/dev/null
  pnmtopng "$work/label.pgm" >"$work/label.png" 2>/dev/null
  pnmtojpeg --quality=90 "$work/label.pgm" >"$work/label.jpg"
  local i printer file format pids=() t0 waited
  # Four jobs sent one after another to a paused printer start in turn once it resumes.
  "$work/$name" pause -d label300 || fail "could not pause label300"
  for file in label.png:image/png label.jpg:image/jpeg label.png:image/png; do
    ipptool -f "$work/${file%%:*}" -d filetype="${file#*:}" "$uri/label300" \
      "$tests/print-job.test" >/dev/null 2>&1 || fail "could not queue ${file%%:*}"
  done
  timeout 120 ipptool -f "$work/p300.pwg" -d filetype=image/pwg-raster "$uri/label300" \
    "$tests/print-job.test" >"$work/busy-0.out" 2>&1 &
  sleep 0.5
  "$work/$name" resume -d label300 || fail "could not resume label300"
  wait $! || fail "the raster job sent to the paused printer failed: $(cat "$work/busy-0.out")"
  local started
  for _ in $(seq 100); do
    started=$(sed -n 's/.*\[Job \([1-4]\)\] Starting print job.*/\1/p' "$work/app.log")
    [ "$(echo "$started" | wc -l)" -ge 4 ] && break
    sleep 0.1
  done
  [ "$(echo $started)" = "1 2 3 4" ] || fail "the jobs started as $(echo $started), not in turn"
  for i in $(seq 32); do
    case $((i % 4)) in
    0) file=p203.pwg format=image/pwg-raster ;;
    1) file=label.png format=image/png ;;
    2) file=p203.urf format=image/urf ;;
    3) file=label.jpg format=image/jpeg ;;
    esac
    printer=label
    if [ $((i % 3)) = 0 ]; then
      printer=label300
      [[ $file == p203.* ]] && file=p300.pwg format=image/pwg-raster
    fi
    timeout 120 ipptool -f "$work/$file" -d filetype="$format" "$uri/$printer" \
      "$tests/print-job.test" >"$work/busy-$i.out" 2>&1 &
    pids+=($!)
  done
  sleep 0.5
  "$work/$name" cancel -d label -j 8 >/dev/null 2>&1 || true
  "$work/$name" cancel -d label300 -j 10 >/dev/null 2>&1 || true
  local queued
  queued=$(for printer in label label300; do "$work/$name" jobs -d "$printer"; done |
    grep -cE " (pending|processing|held) " || true)
  [ "$queued" -gt 2 ] || fail "the jobs ended before the stop: nothing waits to be stopped"
  t0=$SECONDS
  kill "$app_pid"
  for _ in $(seq 300); do
    kill -0 "$app_pid" 2>/dev/null || break
    sleep 0.1
  done
  waited=$((SECONDS - t0))
  kill -0 "$app_pid" 2>/dev/null && fail "SIGTERM did not end the server in 30 s"
  wait "${pids[@]}" 2>/dev/null || true
  # Each device: whole blocks up to the stop, the last perhaps cut without its PRINT.
  local dpi out status sizes=()
  for printer in label label300; do
    dpi=203.2
    [ "$printer" = label300 ] && dpi=300
    sizes+=("$(stat -c %s "$work/out/$printer.prn")")
    blocks_cut_or_whole "$work/out/$printer.prn" "$dpi"
  done
  echo "busy: 32 clients, 2 cancelled, stopped with $queued jobs not ended in ${waited} s"

  # The same state again: both printers, and every job ends.
  start_printer_app "$work/$name" "$work" -o log-level=debug -o server-options=no-tls
  [ "$("$work/$name" printers | sort | tr '\n' ' ')" = "label label300 " ] ||
    fail "the printers did not come back: $("$work/$name" printers)"
  local left
  for _ in $(seq 300); do
    left=$(for printer in label label300; do "$work/$name" jobs -d "$printer"; done |
      grep -cE " (pending|processing|held) " || true)
    [ "$left" = 0 ] && break
    sleep 0.2
  done
  [ "$left" = 0 ] || fail "jobs never ended: $("$work/$name" jobs -d label) $("$work/$name" jobs -d label300)"
  # What the restored jobs printed after the restart is whole blocks.
  for printer in label:203.2:0 label300:300:1; do
    tail -c +$((sizes[${printer##*:}] + 1)) "$work/out/${printer%%:*}.prn" >"$work/after.prn"
    [ -s "$work/after.prn" ] || continue
    blocks_cut_or_whole "$work/after.prn" "$(echo "$printer" | cut -d: -f2)"
  done
  echo "busy: after a restart both printers are back, every job ended, the devices hold whole blocks"
}

part_busy
echo "printer application (busy): all checks passed"
