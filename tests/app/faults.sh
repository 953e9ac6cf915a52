#!/bin/bash
# SPDX-License-Identifier: Apache-2.0
# As root: faults that the server meets for real. Served as an account of its own, held
# at a process limit of 1, it cannot make a thread for a held job when the job's time
# comes: the job ends aborted with the reason, and once threads can be made again the
# next job prints. With its state on a small tmpfs that fills up, a printer added or
# deleted is refused with the system's reason, the state and settings files stay whole,
# and after a restart the printers are those saved before. Killed (SIGKILL) in the middle of a job
# to the virtual printer and started again, the job that was printing ends aborted with a
# reason that says so and its document leaves the spool, a later job prints, and a
# waiting job can be cancelled. Stopped while a job waits for a printer that is away, it
# ends within seconds and the job prints after the next start; stopped after a printer
# went away in the middle of a job, the job prints the labels that had not come out after
# the next start, and no other. A printer that never reads
# is given up on after 10 s, with the reason, and shows offline.
if [ "$(id -u)" != 0 ]; then
  echo "skipped: the server must run as an account of its own, which only root can start"
  exit 77
fi
# shellcheck source=tests/app/lib.sh
. "$(dirname "$0")/lib.sh"

# Stop the server, remove the runtime files that a server of another account makes
# under /run, and unmount the small disk.
faults_clean() {
  [ -z "$app_pid" ] || stop "$app_pid"
  app_pid=
  rm -rf "/run/$name" "/run/$name.sock"
  ! mountpoint -q "$work/disk" || umount "$work/disk"
}

# Start the server with its state, spool and devices on the small disk, as root.
start_on_disk() {
  start_printer_app "$work/$name" "$work/disk" -o server-options=no-tls \
    -o log-file="$work/disk.log"
}

# The printers the running server has, one name a line.
printer_names() {
  "$work/$name" printers | sort | tr '\n' ' '
}

# Fill the small disk while a printer is added: the addition is refused and nothing saved
# before is lost.
full_disk() {
  mkdir -p "$work/disk"
  if ! mount -t tmpfs -o size=256k tmpfs "$work/disk" 2>/dev/null; then
    echo "faults: the full disk is not tried: a tmpfs cannot be mounted here"
    return
  fi
  mkdir "$work/disk/spool"
  : >"$work/disk/label.prn"
  start_on_disk
  uri="ipp://127.0.0.1:$port/ipp/print"
  "$work/$name" add -d kept -m strb203 -v "file://$work/disk/label.prn" ||
    fail "could not add a printer before the disk filled"
  for _ in $(seq 50); do
    grep -q "kept" "$work/disk/app.state" 2>/dev/null && break
    sleep 0.1
  done
  cp "$work/disk/app.state" "$work/state.before"
  cp "$work/disk/app.state.settings" "$work/settings.before"
  dd if=/dev/zero of="$work/disk/fill" bs=4k 2>/dev/null || true
  local got
  ! got=$("$work/$name" add -d lost -m strb203 -v "file://$work/disk/label.prn" 2>&1) ||
    fail "a printer was added while the state could not be saved"
  [[ "$got" == *"No space left on device"* ]] || fail "the refusal does not say why: $got"
  grep -q "The printers were not saved: .*No space left on device" "$work/disk.log" ||
    fail "the failed save is not in the log"
  # So is a printer deleted, which stays.
  ! got=$("$work/$name" delete -d kept 2>&1) ||
    fail "a printer was deleted while the state could not be saved"
  [[ "$got" == *"No space left on device"* ]] || fail "the refused delete does not say why: $got"
  [ "$(printer_names)" = "kept " ] || fail "after the refused delete the printers are $(printer_names)"
  # A job whose document cannot be spooled is refused with the reason.
  got=$(ipptool -tv -f "$work/label.png" -d filetype=image/png "$uri/kept" \
    "$tests/print-job.test" 2>&1) && fail "a job was spooled on a full disk"
  [[ "$got" == *"Unable to "*" print file: No space left on device"* ]] ||
    fail "the refused job's message: $(echo "$got" | grep -i "status-message")"
  sleep 1.5
  cmp -s "$work/disk/app.state" "$work/state.before" || fail "the state file changed on a full disk"
  cmp -s "$work/disk/app.state.settings" "$work/settings.before" ||
    fail "the settings file changed on a full disk"
  rm "$work/disk/fill"
  stop "$app_pid"
  start_on_disk
  [ "$(printer_names)" = "kept " ] || fail "after a restart the printers are $(printer_names)"
  "$work/$name" delete -d kept || fail "the printer could not be deleted once the disk had room"
  [ -z "$(printer_names)" ] || fail "after the delete the printers are $(printer_names)"
  echo "faults: a full disk refuses the printer added and deleted, and keeps the state saved before"
}

# The state of job JOB on PRINTER and its message as they are now, as "STATE: MESSAGE".
job_said() {
  local got
  wait_test | sed '/REPEAT-NO-MATCH/d' >"$work/state.test"
  got=$(ipptool -t -d job="$2" "$uri/$1" "$work/state.test" 2>&1) || true
  echo "$(echo "$got" | sed -n 's/^ *job-state (enum) = //p' | tail -n 1):" \
    "$(echo "$got" | sed -n 's/^ *job-state-message (textWithoutLanguage) = //p' | tail -n 1)"
}

# Kill the server while it prints six labels on the virtual printer, and start it again.
killed_mid_job() {
  local vport vprinter_pid printing waiting document
  mkdir -p "$work/killed/spool"
  start_virtual_printer "$vprinter" "$work" /dev/null --time-scale 1
  stall_pids=$vprinter_pid
  start_printer_app "$work/$name" "$work/killed" -o server-options=no-tls
  uri="ipp://127.0.0.1:$port/ipp/print"
  "$work/$name" add -d virtual -m strb203 -v "socket://127.0.0.1:$vport" ||
    fail "could not add the virtual printer"
  : >"$work/killed/label.prn"
  "$work/$name" add -d label -m strb203 -v "file://$work/killed/label.prn" ||
    fail "could not add a file printer"
  "$work/$name" pause -d label
  job_test copies=6 >"$work/six.test"
  printing=$(ipptool -t -d filetype=image/png -f "$work/label.png" "$uri/virtual" \
    "$work/six.test" | sed -n 's/^ *job-id (integer) = //p')
  [ -n "$printing" ] || fail "the job of six labels was not taken"
  # The virtual printer, added first, is printer 1 in PAPPL's names for spooled documents.
  document="p00001j$(printf %09d "$printing")-*.png"
  for _ in $(seq 150); do
    grep -q "^label 1 " "$work/virtual.out" && break
    sleep 0.1
  done
  grep -q "^label 1 " "$work/virtual.out" || fail "no label came out before the kill"
  waiting=$("$work/$name" submit -d label "$work/label.png" | sed -n 's/.*-\([0-9]*\)$/\1/p')
  [ -n "$waiting" ] || fail "could not queue a job"
  sleep 1.2
  [ -n "$(find "$work/killed/spool" -name "$document")" ] ||
    fail "the printing job's document is not spooled: $(ls "$work/killed/spool")"
  kill -KILL "$app_pid"
  wait "$app_pid" 2>/dev/null || true
  app_pid=
  start_printer_app "$work/$name" "$work/killed" -o server-options=no-tls
  uri="ipp://127.0.0.1:$port/ipp/print"
  [ "$(job_said virtual "$printing")" = "aborted: The printer application ended while this job printed: its labels may not all have come out." ] ||
    fail "the job cut by the kill: $(job_said virtual "$printing")"
  [ -z "$(find "$work/killed/spool" -name "$document")" ] ||
    fail "the document of the job cut by the kill is still spooled: $(ls "$work/killed/spool")"
  "$work/$name" cancel -d label -j "$waiting" || fail "the waiting job could not be cancelled"
  [[ "$(job_said label "$waiting")" == canceled:* ]] ||
    fail "the cancelled job: $(job_said label "$waiting")"
  "$work/$name" resume -d label
  print_job after label "$work/label.png" image/png
  [ "$state" = completed ] && [ -s "$work/killed/label.prn" ] ||
    fail "the job after the restart ended $state: $message"
  kill "$vprinter_pid"
  wait "$vprinter_pid" 2>/dev/null || true
  stall_pids=
  echo "faults: a job cut by a kill ends aborted with the reason, and the queue goes on"
}

# Stop the server while its job waits for a printer that cannot be reached: it ends
# within seconds, and the job prints after the next start once the printer is there.
stopped_waiting_for_printer() {
  local vport vprinter_pid t0 waited
  mkdir -p "$work/away/spool"
  vport=$(free_port)
  start_printer_app "$work/$name" "$work/away" -o server-options=no-tls
  uri="ipp://127.0.0.1:$port/ipp/print"
  "$work/$name" add -d away -m strb203 -v "socket://127.0.0.1:$vport" ||
    fail "could not add the printer that is away"
  "$work/$name" submit -d away "$work/label.png" >/dev/null || fail "could not queue a job"
  for _ in $(seq 50); do
    grep -q "Unable to open device" "$work/away/app.log" && break
    sleep 0.1
  done
  t0=$(date +%s%N)
  stop "$app_pid"
  waited=$((($(date +%s%N) - t0) / 1000000))
  app_pid=
  [ "$waited" -lt 5000 ] || fail "the stop took $waited ms"
  grep -q "Waiting for its printer when the application stopped" "$work/away/app.log" ||
    fail "the log does not say what the stop left"
  start_virtual_printer "$vprinter" "$work" /dev/null --port "$vport"
  stall_pids=$vprinter_pid
  start_printer_app "$work/$name" "$work/away" -o server-options=no-tls
  for _ in $(seq 100); do
    grep -q "^label 1 " "$work/virtual.out" && break
    sleep 0.1
  done
  grep -q "^label 1 " "$work/virtual.out" || fail "the job left by the stop did not print"
  kill "$vprinter_pid"
  stall_pids=
  echo "faults: a stop while a job waits for its printer ends at once, and the job prints later"
}

# Stop the server while a job of six collated labels waits for its printer, which went
# away after two: the job is not completed by the stop, stays queued, and after the next
# start prints the four labels that had not come out, and no other.
stopped_mid_job_printer_away() {
  local vport vprinter_pid job got
  mkdir -p "$work/half/spool"
  start_virtual_printer "$vprinter" "$work" /dev/null --time-scale 1 --buffer 64K
  stall_pids=$vprinter_pid
  start_printer_app "$work/$name" "$work/half" -o server-options=no-tls
  uri="ipp://127.0.0.1:$port/ipp/print"
  "$work/$name" add -d half -m strb203 -v "socket://127.0.0.1:$vport" ||
    fail "could not add the virtual printer"
  "$sample" "$work/three.pwg" 3 812 406 1 pwg
  job_test copies=2 >"$work/two.test"
  job=$(ipptool -t -d filetype=image/pwg-raster -f "$work/three.pwg" "$uri/half" \
    "$work/two.test" | sed -n 's/^ *job-id (integer) = //p')
  [ -n "$job" ] || fail "the job of six labels was not taken"
  for _ in $(seq 150); do
    grep -q "^label 2 " "$work/virtual.out" && break
    sleep 0.1
  done
  kill -KILL "$vprinter_pid"
  wait "$vprinter_pid" 2>/dev/null || true
  mv "$work/virtual.out" "$work/virtual-before.out"
  for _ in $(seq 100); do
    grep -q "Waiting for the printer: it cannot be reached" "$work/half/app.log" && break
    sleep 0.1
  done
  stop "$app_pid"
  app_pid=
  grep -q "Completed" "$work/half/app.log" && fail "the stop completed the job"
  start_virtual_printer "$vprinter" "$work" /dev/null --time-scale 0 --port "$vport"
  stall_pids=$vprinter_pid
  start_printer_app "$work/$name" "$work/half" -o server-options=no-tls
  uri="ipp://127.0.0.1:$port/ipp/print"
  wait_test 0.2 300 >"$work/wait.test"
  got=$(ipptool -t -d job="$job" "$uri/half" "$work/wait.test" 2>&1) || true
  [[ "$got" == *"job-state (enum) = completed"* ]] ||
    fail "the job left by the stop did not complete: $(job_said half "$job")"
  [ "$(grep -c "^label " "$work/virtual-before.out")" = 2 ] &&
    [ "$(grep -c "^label " "$work/virtual.out")" = 4 ] ||
    fail "labels before the stop and after: $(grep -c "^label " "$work/virtual-before.out")," \
      "$(grep -c "^label " "$work/virtual.out"), not 2 and 4"
  kill "$vprinter_pid"
  wait "$vprinter_pid" 2>/dev/null || true
  stall_pids=
  echo "faults: a job whose printer went away keeps its place over a stop and prints the rest"
}

# A printer that takes the connection and never reads: the job is given up on with the
# reason once the printer has taken no data for 10 s, and the printer shows offline.
silent_printer() {
  local sport stall_pid got
  mkdir -p "$work/silent/spool"
  sport=$(free_port)
  python3 "$data/stall_printer.py" "$sport" "$work/silent/taken" 100000 &
  stall_pid=$!
  stall_pids=$stall_pid
  start_printer_app "$work/$name" "$work/silent" -o server-options=no-tls
  uri="ipp://127.0.0.1:$port/ipp/print"
  "$work/$name" add -d silent -m strb203 -v "socket://127.0.0.1:$sport" ||
    fail "could not add the silent printer"
  job_test copies=20 >"$work/twenty.test"
  got=$(ipptool -t -d filetype=image/png -f "$work/label.png" "$uri/silent" "$work/twenty.test") ||
    fail "the job was refused: $got"
  wait_test >"$work/wait.test"
  got=$(timeout 60 ipptool -t -d job=1 "$uri/silent" "$work/wait.test" 2>&1) ||
    fail "the job to a printer that never reads did not end: $got"
  [[ "$got" == *"job-state (enum) = aborted"* ]] &&
    [[ "$got" == *"The printer took no data for 10 s: it was given up on"* ]] ||
    fail "the job to a printer that never reads: $got"
  [[ "$(ipptool -tv "$uri/silent" "$tests/get-printer-attributes.test" 2>&1)" == *"printer-state-reasons (keyword) = offline"* ]] ||
    fail "the printer that never reads is not shown offline"
  kill "$stall_pid"
  # A small label, all of it taken into the application's socket, none of it read: the
  # job ends once the printer has taken no byte for 10 s, saying what may be missing.
  python3 "$data/stall_printer.py" "$sport" "$work/silent/taken" 100000 4096 &
  stall_pid=$!
  stall_pids=$stall_pid
  "$sample" "$work/small.pwg" 1 406 203 1 pwg
  job_test >"$work/one.test"
  got=$(ipptool -t -d filetype=image/pwg-raster -f "$work/small.pwg" "$uri/silent" \
    "$work/one.test") || fail "the small label was refused: $got"
  for _ in $(seq 300); do
    grep -q "\[Job 2\] Aborted" "$work/silent/app.log" && break
    sleep 0.1
  done
  grep -q "\[Job 2\] The printer did not take the job.*s last [0-9]* bytes within 10 s" \
    "$work/silent/app.log" || fail "the small label that a printer never read did not say so"
  grep -q "\[Job 2\] Aborted" "$work/silent/app.log" ||
    fail "the small label that a printer never read did not end aborted"
  kill "$stall_pid"
  stall_pids=
  echo "faults: a printer that never reads is given up on after 10 s with the reason"
}

part_faults() {
  undo_part=faults_clean
  mkdir -p "$work/svc/spool"
  : >"$work/svc/label.prn"
  chown -R nobody:nogroup "$work/svc"
  # Another account runs the program, which the build tree (under /root, say) may hide.
  rm "$work/$name"
  cp "$(readlink -f "$app")" "$work/$name"
  ln -sf svc/app.log "$work/app.log"
  start_printer_app "$work/$name" "$work/svc" -o user=nobody -o admin-group=nogroup \
    -o server-options=no-tls -o log-level=info
  "$work/$name" add -d label -m strb203 -v "file://$work/svc/label.prn" ||
    fail "could not add a printer"
  uri="ipp://127.0.0.1:$port/ipp/print"
  python3 "$data/gray_label.py" "$work/label.pgm" >/dev/null
  pnmtopng "$work/label.pgm" >"$work/label.png" 2>/dev/null

  job_test hold=2 >"$work/held.test"
  local got held
  got=$(ipptool -t -d filetype=image/png -f "$work/label.png" "$uri/label" "$work/held.test") ||
    fail "the held job was refused: $got"
  held=$(echo "$got" | sed -n 's/^ *job-id (integer) = //p')
  # The server's own account may lower and raise its soft limit, where root lacks the
  # capability to change another account's process in some containers.
  runuser -u nobody -- prlimit --pid "$app_pid" --nproc=1: || fail "could not limit the server"
  for _ in $(seq 100); do
    grep -q "\[Job $held\] Unable to start the job" "$work/app.log" && break
    sleep 0.1
  done
  runuser -u nobody -- prlimit --pid "$app_pid" --nproc="$(ulimit -Hu):" ||
    fail "could not lift the server's limit"
  wait_test >"$work/wait.test"
  got=$(ipptool -t -d job="$held" "$uri/label" "$work/wait.test" 2>&1) || fail "ipptool: $got"
  [[ "$got" == *"job-state (enum) = aborted"* ]] || fail "the job that could not start: $got"
  [[ "$got" == *"Unable to start the job: Resource temporarily unavailable."* ]] ||
    fail "the job's message does not say why: $got"
  [ ! -s "$work/svc/label.prn" ] || fail "the job that could not start printed"
  print_job next label "$work/label.png" image/png
  [ "$state" = completed ] || fail "the next job ended $state: $message"
  "$viewer" --check "$work/svc/label.prn" >/dev/null || fail "the next job's label is not whole"
  echo "faults: a job without a thread ends aborted with the reason, and the next job prints"
  faults_clean
  full_disk
  faults_clean
  killed_mid_job
  faults_clean
  stopped_waiting_for_printer
  faults_clean
  stopped_mid_job_printer_away
  faults_clean
  silent_printer
}

part_faults
