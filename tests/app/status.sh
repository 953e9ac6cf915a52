#!/bin/bash
# SPDX-License-Identifier: Apache-2.0
# The virtual printer's states in printer-state-reasons and jobs that wait for it: out
# of labels before and in a batch, a cancel while waiting, the printer away then back,
# a device that never answers, a stop while a job waits.
# shellcheck source=tests/app/lib.sh
. "$(dirname "$0")/lib.sh"

# Print what IPP shows of the printer (its printer-state-reasons) or of a job (job-state).
ipp_show() {
  local what=$1 operation=Get-Printer-Attributes ask=printer-state-reasons extra=""
  if [ "$what" != printer ]; then
    operation=Get-Job-Attributes ask=job-state extra="ATTR integer job-id $what"
  fi
  ipptool -t "$uri/virtual" /dev/stdin <<EOF 2>&1 | sed -n "s/^ *$ask ([^)]*) = //p"
{ OPERATION $operation GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8 ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri \$uri $extra ATTR keyword requested-attributes $ask DISPLAY $ask }
EOF
}

# Wait up to 15 s until IPP shows WANTED for WHAT (printer or a job id).
wait_shown() {
  local what=$1 wanted=$2 shown
  for _ in $(seq 75); do
    shown=$(ipp_show "$what") || true
    [ "$shown" = "$wanted" ] && return 0
    sleep 0.2
  done
  fail "$what shows \"$shown\", not \"$wanted\": $(tail -n 5 "$work/virtual.out")"
}

# Send a one-page job of COPIES to the printer without waiting; its id is in $last_job.
# A PNG is spooled first, where a streamed raster job would keep its client waiting.
submit() {
  job_test copies="$2" >"$work/submit.test"
  last_job=$(ipptool_when_idle -t -d filetype=image/png -f "$work/label.png" \
    "$uri/$1" "$work/submit.test" | sed -n 's/^ *job-id (integer) = //p') || true
  [ -n "$last_job" ] || fail "the job to $1 was not taken"
}

# Print how many labels the virtual printer has printed.
labels_out() { grep -c "^label " "$work/virtual.out" || true; }

# The virtual printer's buttons, through a fifo, in IPP's printer-state-reasons (every
# bit is in printer_status_test); jobs
# that wait for labels, a cancel while waiting, the printer away then back, and a
# device that never answers its status query.
part_status() {
  start_app
  local vport vprinter_pid press release reason sink before
  "$sample" "$work/page.pwg" 1 812 406 1 pwg
  python3 "$data/gray_label.py" "$work/label.pgm" >/dev/null
  pnmtopng "$work/label.pgm" >"$work/label.png" 2>/dev/null
  mkfifo "$work/buttons"
  exec 4<>"$work/buttons"
  start_virtual_printer "$vprinter" "$work" "$work/buttons" --labels 3 --time-scale 0.05
  stall_pids=$vprinter_pid
  "$work/$name" add -d virtual -m strb203 -v "socket://127.0.0.1:$vport" ||
    fail "could not add virtual"
  while IFS='|' read -r press release reason; do
    echo "$press" >&4
    wait_shown printer "$reason"
    echo "$release" >&4
    wait_shown printer none
  done <<'TABLE'
open|close|cover-open
load 0|load 3|media-empty,media-needed
TABLE

  submit virtual 5
  wait_shown printer media-empty,media-needed
  wait_shown "$last_job" processing
  [ "$(labels_out)" = 3 ] || fail "a roll of 3 printed $(labels_out) labels"
  echo "load 3" >&4
  wait_shown "$last_job" completed
  [ "$(labels_out)" = 5 ] || fail "5 copies over a reload printed $(labels_out) labels"

  echo "load 0" >&4
  wait_shown printer media-empty,media-needed
  if command -v chromium >/dev/null; then
    browser --dump-dom "http://127.0.0.1:$port/virtual" | grep -q "Out of paper" ||
      fail "the printer's web page does not say it is out of paper"
  fi
  submit virtual 1
  wait_shown "$last_job" processing
  echo status >&4
  sleep 0.5
  grep -q "queued=0$" "$work/virtual.out" || fail "a block was sent to a printer out of labels"
  echo "load 2" >&4
  wait_shown "$last_job" completed
  [ "$(labels_out)" = 6 ] || fail "the job after a reload printed $(($(labels_out) - 5)) labels"

  # The roll is out before the job asks, so that the job waits rather than sends.
  echo "load 0" >&4
  wait_shown printer media-empty,media-needed
  submit virtual 1
  wait_shown "$last_job" processing
  ipptool -d job="$last_job" "$uri/virtual" /dev/stdin <<'CANCEL' >/dev/null 2>&1 || fail "cancel"
{ OPERATION Cancel-Job GROUP operation-attributes-tag ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en ATTR uri printer-uri $uri
  ATTR integer job-id $job ATTR name requesting-user-name tester }
CANCEL
  wait_shown "$last_job" canceled
  echo "load 2" >&4
  sleep 1
  [ "$(labels_out)" = 6 ] || fail "a job cancelled while waiting printed"

  echo quit >&4
  wait "$vprinter_pid" || true
  wait_shown printer offline
  submit virtual 1
  # The job waits for the printer, which nobody paused.
  wait_shown "$last_job" processing
  wait_shown printer offline
  start_virtual_printer "$vprinter" "$work" "$work/buttons" --port "$vport" --time-scale 0.05
  stall_pids=$vprinter_pid
  wait_shown "$last_job" completed
  wait_shown printer none
  [ "$(labels_out)" = 1 ] || fail "the printer started late printed $(labels_out) labels"

  # The printer quits in the middle of six labels and comes back: the job waits with the
  # printer offline, and the label being printed when it went is printed again, so
  # that the six came out once each over the two runs.
  echo quit >&4
  wait "$vprinter_pid" || true
  start_virtual_printer "$vprinter" "$work" "$work/buttons" --port "$vport" --time-scale 1
  stall_pids=$vprinter_pid
  submit virtual 6
  for _ in $(seq 150); do
    [ "$(labels_out)" -ge 2 ] && break
    sleep 0.1
  done
  echo quit >&4
  wait "$vprinter_pid" || true
  before=$(labels_out)
  wait_shown printer offline
  wait_shown "$last_job" processing
  start_virtual_printer "$vprinter" "$work" "$work/buttons" --port "$vport" --time-scale 0.05
  stall_pids=$vprinter_pid
  wait_shown "$last_job" completed
  wait_shown printer none
  [ $((before + $(labels_out))) = 6 ] ||
    fail "six labels over a printer that went away came out as $before and $(labels_out)"
  [ "$(grep -c "had not come out when the printer went away: it is sent again" \
    "$work/app.log")" = 1 ] || fail "the label sent again is not in the log once"

  # A cancel in the middle of a batch lets at most the label being printed come out: the
  # printer is sent a block only once the one before it is out.
  submit virtual 20
  for _ in $(seq 100); do
    [ "$(labels_out)" -ge 2 ] && break
    sleep 0.05
  done
  ipptool -d job="$last_job" "$uri/virtual" /dev/stdin <<'CANCEL' >/dev/null 2>&1 || fail "cancel"
{ OPERATION Cancel-Job GROUP operation-attributes-tag ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en ATTR uri printer-uri $uri
  ATTR integer job-id $job ATTR name requesting-user-name tester }
CANCEL
  before=$(labels_out)
  wait_shown "$last_job" canceled
  sleep 1
  [ "$(labels_out)" -le $((before + 1)) ] && [ "$before" -lt 20 ] ||
    fail "a cancel after $before of 20 labels let $(($(labels_out) - before)) more out"

  sink=$(free_port)
  python3 -c 'import socket, sys
s = socket.create_server(("127.0.0.1", int(sys.argv[1])))
while True:
    c = s.accept()[0]
    while c.recv(65536): pass' "$sink" &
  stall_pids="$stall_pids $!"
  for _ in $(seq 50); do
    (exec 3<>"/dev/tcp/127.0.0.1/$sink") 2>/dev/null && break
    sleep 0.1
  done
  "$work/$name" add -d sink -m strb203 -v "socket://127.0.0.1:$sink" || fail "could not add sink"
  SECONDS=0
  print_job sink sink "$work/page.pwg" image/pwg-raster
  [ "$state" = completed ] && [ "$SECONDS" -le 5 ] ||
    fail "a printer that never answers: job $state after $SECONDS s"
  [ "$(grep -c "did not answer its status query" "$work/app.log")" = 1 ] ||
    fail "the missing answer was not logged once"

  echo pause >&4
  wait_shown printer other
  before=$(labels_out)
  submit virtual 1
  wait_shown "$last_job" processing
  SECONDS=0
  stop "$app_pid"
  app_pid=
  echo resume >&4
  sleep 1
  [ "$SECONDS" -le 4 ] && [ "$(labels_out)" = "$before" ] ||
    fail "a stop while waiting took $SECONDS s and printed $(($(labels_out) - before)) labels"
  grep -q "\[Device\] Unable to connect to .*127\.0\.0\.1:$vport.*: Connection refused" "$work/app.log" ||
    fail "the printer that refused the connection is not logged with that reason"
  echo "status: 7 states in printer-state-reasons, jobs wait for labels and for a printer"
}

part_status
echo "printer application (status): all checks passed"
