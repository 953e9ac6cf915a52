#!/bin/bash
# SPDX-License-Identifier: Apache-2.0
# Jobs are taken at once whatever the printer does. With the virtual printer out of
# labels, ten clients send PWG and Apple raster jobs at once (one of three pages, some
# with copies): each is answered with its job id before the roll is loaded, each is
# spooled, one is cancelled and its file is gone, and after a stop and a restart the
# others print in the order they were taken, each label once. (The spool's limit with
# jobs waiting is app_system_test's.)
# shellcheck source=tests/app/lib.sh
. "$(dirname "$0")/lib.sh"

# Print the labels the virtual printer has printed so far.
labels_out() { grep -c "^label " "$work/virtual.out" || true; }

# The state of job JOB on the virtual printer.
job_state() {
  wait_test | sed '/REPEAT-NO-MATCH/d' >"$work/state.test"
  ipptool -t -d job="$1" "$uri/virtual" "$work/state.test" 2>&1 |
    sed -n 's/^ *job-state (enum) = //p' | tail -n 1
}

# Wait up to 30 s until job JOB has ended; fail unless it ended WANTED.
wait_ended() {
  local got
  for _ in $(seq 150); do
    got=$(job_state "$1") || true
    case $got in completed | canceled | aborted) break ;; esac
    sleep 0.2
  done
  [ "$got" = "$2" ] || fail "job $1 ended \"$got\", not $2"
}

# The label height, in mm, that client K's jobs ask for: each client's labels are told
# apart by it.
height_mm() { echo $((52 + $1)); }

part_queue() {
  start_app -o server-options=no-tls -o max-spool-size=2M
  "$sample" "$work/three.pwg" 3 812 406 1 pwg
  "$sample" "$work/one.pwg" 1 812 406 1 pwg
  "$pwgpage" "$work/one.urf" 812 406 8 18 203
  mkfifo "$work/buttons"
  exec 4<>"$work/buttons"
  start_virtual_printer "$vprinter" "$work" "$work/buttons" --labels 0
  stall_pids=$vprinter_pid
  "$work/$name" add -d virtual -m strb203 -v "socket://127.0.0.1:$vport" ||
    fail "could not add the virtual printer"

  # Client K sends its document with COPIES[K] copies; client 1 the three pages.
  local copies=(0 2 1 3 1 2 1 1 2 1 3) k doc type pids=() id
  declare -A job_of labels_of
  for k in $(seq 10); do
    doc=$work/one.pwg type=image/pwg-raster
    [ $((k % 2)) = 1 ] || doc=$work/one.urf type=image/urf
    [ "$k" != 1 ] || doc=$work/three.pwg
    job_test copies="${copies[$k]}" size=10160x$(($(height_mm "$k") * 100)) >"$work/client$k.test"
    timeout 20 ipptool -t -d filetype=$type -f "$doc" "$uri/virtual" "$work/client$k.test" \
      >"$work/client$k.out" 2>&1 &
    pids+=($!)
  done
  for k in $(seq 10); do
    wait "${pids[$((k - 1))]}" || fail "client $k was not answered: $(tail -n 3 "$work/client$k.out")"
    id=$(sed -n 's/^ *job-id (integer) = //p' "$work/client$k.out")
    [ -n "$id" ] || fail "client $k got no job id: $(cat "$work/client$k.out")"
    job_of[$k]=$id
  done
  [ "$(labels_out)" = 0 ] || fail "a label came out of a printer out of labels"
  # A spooled document is named for its format; the job's attributes end in .ipp.
  [ "$(find "$work/spool" -name "*j0*" ! -name "*.ipp" | wc -l)" -ge 9 ] ||
    fail "the waiting raster jobs are not spooled: $(ls "$work/spool")"
  echo "queue: ten raster jobs to a printer out of labels were each answered with a job id"

  # A waiting job cancelled is gone, with its spool file.
  "$work/$name" cancel -d virtual -j "${job_of[5]}" || fail "could not cancel job ${job_of[5]}"
  wait_ended "${job_of[5]}" canceled
  for _ in $(seq 50); do
    [ -z "$(find "$work/spool" -name "*j0*${job_of[5]}-*" ! -name "*.ipp")" ] && break
    sleep 0.1
  done
  [ -z "$(find "$work/spool" -name "*j0*${job_of[5]}-*" ! -name "*.ipp")" ] ||
    fail "the cancelled job's file is still spooled: $(ls "$work/spool")"

  # A stop with the jobs waiting, and a start: they print in order once the roll is in.
  stop "$app_pid"
  app_pid=
  start_printer_app "$work/$name" "$work" -o log-level=debug -o server-options=no-tls \
    -o max-spool-size=2M
  uri="ipp://127.0.0.1:$port/ipp/print"
  echo load >&4
  for k in $(seq 10); do
    [ "$k" = 5 ] || wait_ended "${job_of[$k]}" completed
  done
  local expected="" printed
  for k in $(for k in $(seq 10); do echo "${job_of[$k]} $k"; done | sort -n | cut -d' ' -f2); do
    [ "$k" = 5 ] && continue
    local n=$((${copies[$k]} * (k == 1 ? 3 : 1)))
    expected+=$(for _ in $(seq "$n"); do echo -n "$(height_mm "$k") "; done)
  done
  printed=$(sed -n 's/^label .* size=102x\([0-9]*\)mm .*/\1/p' "$work/virtual.out" | tr '\n' ' ')
  [ "$printed" = "$expected" ] ||
    fail "the labels came out as heights [$printed], not [$expected]"
  echo "queue: after a stop and a start the nine jobs printed in order, each label once"
}

part_queue
echo "printer application (queue): all checks passed"
