#!/bin/bash
# SPDX-License-Identifier: Apache-2.0
# Drive the real printer application on 127.0.0.1 with ipptool and with a private
# cupsd's driverless queue, and check the label streams that reach its file devices.
# Usage: printer_app_e2e.sh PART APP FILTER VIEWER SAMPLE_RASTER PWG_PAGE DATA_DIR SHOTS
#        VIRTUAL_PRINTER
# PART is one of:
#   ipp      CUPS's get-printer-attributes, print-job and ipp-everywhere tests; the same
#            page through the application and through the filter gives the same bytes
#   bad      truncated, oversized and unconvertible pages end aborted, and the next job prints
#   busy     32 clients at once on two printers, every format, cancels and a stop while
#            jobs wait; after a restart the printers are back and every job ends
#   cupsd    lp through a driverless CUPS queue (as root; exit status 77 means skipped)
#   remote   served on this host's network address too: TLS works, printing and changing
#            settings from the network ask for a password, the local socket does not
#            (skipped without a network address)
#   slow     two printers that take their data late print at once, one job cancelled;
#            then the application is stopped while a job prints
#   web      headless Chromium on the setup pages and the last label's preview, with a
#            screenshot of each page saved in SHOTS (the 8th argument)
#   virtual  a printer on a socket:// device into the virtual printer, which prints the
#            pictures that the viewer draws of the same job on a file device; it beeps
#            for Identify-Printer, and Chromium clicks the Label Handling page's buttons
#   status   the virtual printer's states in printer-state-reasons and jobs that wait for
#            it: out of labels before and in a batch, a cancel while waiting, the printer
#            away then back, a device that never answers, a stop while a job waits
#   guard    as root: served as an account of its own, each way in that a local user or an
#            account on the network might try beyond its rights is refused (from a network
#            namespace for the network), with the files' modes and the unit's exposure
set -euo pipefail
# shellcheck source=tests/private_cupsd.sh
. "$(dirname "$0")/private_cupsd.sh"
# shellcheck source=tests/local_server.sh
. "$(dirname "$0")/local_server.sh"
export LC_ALL=C

part=$1 app=$2 filter=$3 viewer=$4 sample=$5 pwgpage=$6 data=$7 shots=${8:-} vprinter=${9:-}
tests=/usr/share/cups/ipptool
if [ "$part" = cupsd ] && [ "$(id -u)" != 0 ]; then
  echo "skipped: cupsd must be started as root"
  exit 77
fi
if [ "$part" = guard ] && [ "$(id -u)" != 0 ]; then
  echo "skipped: the accounts and the network namespace need root"
  exit 77
fi

work=$(mktemp -d /tmp/strobane-app.XXXXXX)
chmod 0755 "$work"
mkdir -p "$work"/{out,jobs,spool}
# In the sanitized build, PAPPL's own leaks at exit would fail every command. The
# suppressions are read from here, where the accounts of the access test can read them.
cp "$(dirname "$(readlink -f "$0")")/app_lsan.supp" "$work/"
export LSAN_OPTIONS="suppressions=$work/app_lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
# The application names its local socket and default state after argv[0]: a name of
# the test's own keeps an installed service's socket and state untouched.
name="strobane-test-$$"
ln -s "$(readlink -f "$app")" "$work/$name"
app_pid= cupsd_pid=
stop() {
  local pid=$1
  kill "$pid" 2>/dev/null || return 0
  for _ in $(seq 100); do
    kill -0 "$pid" 2>/dev/null || return 0
    sleep 0.1
  done
  kill -KILL "$pid" 2>/dev/null || true
}
stall_pids=
guard_undo=:
cleanup() {
  local status=$?
  [ -z "$stall_pids" ] || kill $stall_pids 2>/dev/null || true
  $guard_undo
  [ -z "$cupsd_pid" ] || stop "$cupsd_pid"
  [ -z "$app_pid" ] || stop "$app_pid"
  # A failed run leaves its logs and device streams where ctest's caller can read them.
  if [ "$status" != 0 ] && [ "$status" != 77 ] && [ -n "${STROBANE_E2E_FAILED:-}" ]; then
    local kept="$STROBANE_E2E_FAILED/$part"
    rm -rf "$kept"
    mkdir -p "$kept"
    find "$work" -maxdepth 3 \( -name '*.log*' -o -name '*.out' -o -name '*.prn' \) \
      -exec cp -t "$kept" {} + 2>/dev/null || true
    echo "the failed run's logs and device files: $kept"
  fi
  if [ -n "${KEEP_E2E:-}" ]; then echo "work directory kept: $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT
trap 'exit 1' HUP INT TERM

fail() {
  echo "FAIL: $*"
  echo "--- the application's log, last lines:"
  grep -v "\] [A-Z][-A-Za-z]* \(request\|response\):" "$work/app.log" 2>/dev/null | tail -n 30
  exit 1
}

# Start the application with its own state, spool and log, and add a 203 dpi printer
# "label" and a 300 dpi printer "label300", each printing into out/PRINTER.prn.
# Further server options may follow (the default is no TLS).
start_app() {
  [ $# -gt 0 ] || set -- -o server-options=no-tls
  start_printer_app "$work/$name" "$work" -o log-level=debug "$@"
  for printer in label:strb203 label300:strb300; do
    : >"$work/out/${printer%%:*}.prn"
    "$work/$name" add -d "${printer%%:*}" -m "${printer#*:}" \
      -v "file://$work/out/${printer%%:*}.prn" || fail "could not add ${printer%%:*}"
  done
  uri="ipp://127.0.0.1:$port/ipp/print"
}

# Write the ipptool file for a job with the given attributes (copies=N collate=collated
# or uncollated, size=WxH in hundredths of mm, darkness=N, speed=N, tracking=K, left=N,
# top=N, conversion=K, tear=N in hundredths of mm).
job_test() {
  local attrs="" media="" setting
  for setting in "$@"; do
    case $setting in
    copies=*) attrs+="ATTR integer copies ${setting#*=}"$'\n' ;;
    collate=*) attrs+="ATTR keyword multiple-document-handling separate-documents-${setting#*=}-copies"$'\n' ;;
    darkness=*) attrs+="ATTR integer print-darkness ${setting#*=}"$'\n' ;;
    speed=*) attrs+="ATTR integer print-speed ${setting#*=}"$'\n' ;;
    conversion=*) attrs+="ATTR keyword print-conversion ${setting#*=}"$'\n' ;;
    tear=*) attrs+="ATTR integer label-tear-offset ${setting#*=}"$'\n' ;;
    size=*)
      setting=${setting#size=}
      media+="MEMBER collection media-size { MEMBER integer x-dimension ${setting%x*}"
      media+=" MEMBER integer y-dimension ${setting#*x} }"$'\n'
      ;;
    tracking=*) media+="MEMBER keyword media-tracking ${setting#*=}"$'\n' ;;
    left=*) media+="MEMBER integer media-left-offset ${setting#*=}"$'\n' ;;
    top=*) media+="MEMBER integer media-top-offset ${setting#*=}"$'\n' ;;
    *) fail "unknown job setting $setting" ;;
    esac
  done
  [ -z "$media" ] || attrs+="ATTR collection media-col { $media }"$'\n'
  cat <<EOF
{
  NAME "print"
  OPERATION Print-Job
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri \$uri
  ATTR name requesting-user-name tester
  ATTR mimeMediaType document-format \$filetype
  GROUP job-attributes-tag
  $attrs
  FILE \$filename
  STATUS successful-ok
  EXPECT job-id
  DISPLAY job-id
}
EOF
}

# Write the ipptool file that waits until job $job has ended and shows how it ended.
wait_test() {
  cat <<'EOF'
{
  NAME "wait"
  OPERATION Get-Job-Attributes
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri $uri
  ATTR integer job-id $job
  STATUS successful-ok
  EXPECT job-state WITH-VALUE >6 REPEAT-NO-MATCH REPEAT-LIMIT 600
  DISPLAY job-state
  DISPLAY job-state-message
}
EOF
}

# Run ipptool with these arguments and print its output; PAPPL refuses a streamed raster
# job with server-error-busy while another job prints, so that is tried again, as
# clients do.
ipptool_when_idle() {
  local output
  for _ in $(seq 100); do
    output=$(ipptool "$@" 2>&1) && { echo "$output"; return 0; }
    [[ "$output" == *server-error-busy* ]] || break
    sleep 0.2
  done
  echo "$output"
  return 1
}

# Print FILE of FORMAT on PRINTER with the settings that follow; keep what reached the
# device in jobs/JOB.prn and the job's end state and message in $state and $message.
# With gone=SECONDS first, the client gives up after that long, as if it had gone away;
# its job is then taken to be the one after the last job printed here.
last_job=0
print_job() {
  local job=$1 printer=$2 file=$3 format=$4 gone=0 result
  shift 4
  if [[ "${1:-}" == gone=* ]]; then
    gone=${1#gone=}
    shift
  fi
  job_test "$@" >"$work/$job.test"
  [ -f "$work/wait.test" ] || wait_test >"$work/wait.test"
  : >"$work/out/$printer.prn"
  if [ "$gone" = 0 ]; then
    result=$(ipptool_when_idle -t -d filetype="$format" -f "$file" "$uri/$printer" \
      "$work/$job.test") || fail "$job: ipptool: $result"
    last_job=$(echo "$result" | sed -n 's/^ *job-id (integer) = //p')
  else
    timeout "$gone" ipptool -d filetype="$format" -f "$file" "$uri/$printer" "$work/$job.test" \
      >/dev/null 2>&1 || true
    last_job=$((last_job + 1))
  fi
  result=$(ipptool -t -d job="$last_job" "$uri/$printer" "$work/wait.test" 2>&1) ||
    fail "$job: ipptool: $result"
  state=$(echo "$result" | sed -n 's/^ *job-state (enum) = //p' | tail -n 1)
  message=$(echo "$result" | sed -n 's/^ *job-state-message (textWithoutLanguage) = //p' | tail -n 1)
  cp "$work/out/$printer.prn" "$work/jobs/$job.prn"
}

# Send PRINTER an IPP OPERATION with the ipptool lines that follow, failing with WHAT.
printer_request() {
  local printer=$1 operation=$2 what=$3 line attrs=""
  shift 3
  for line in "$@"; do
    attrs+="  $line"$'\n'
  done
  cat >"$work/request.test" <<EOF
{
  OPERATION $operation
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri \$uri
$attrs  STATUS successful-ok
}
EOF
  ipptool -t "$uri/$printer" "$work/request.test" >"$work/request.out" 2>&1 ||
    fail "$what: $(cat "$work/request.out")"
}

# Set PRINTER's label mode and default tear-off position.
set_label_mode() {
  printer_request "$1" Set-Printer-Attributes "could not set $1's label mode" \
    "GROUP printer-attributes-tag" "ATTR keyword label-mode-configured $2" \
    "ATTR integer label-tear-offset-default $3"
}

# Print the viewer's summary of a stream, failing unless it is well formed.
summary() {
  "$viewer" --check --dpi "$2" "$1" 2>/dev/null || fail "$1 is not a well-formed stream"
}

# Print the test label as the web page's "Print Test Page" button asks for it; check
# its size and the lines the application says it drew.
test_label() {
  local size=$1 want=$2 form token got
  : >"$work/out/label.prn"
  form=$(curl -s -c "$work/cookies" "http://127.0.0.1:$port/label/")
  token=$(echo "$form" | sed -n 's/.*name="session" value="\([^"]*\)".*/\1/p' | head -n 1)
  curl -s -b "$work/cookies" -o /dev/null --data "session=$token&action=print-test-page" \
    -H "Origin: http://127.0.0.1:$port" \
    "http://127.0.0.1:$port/label/" || fail "the test page request failed"
  for _ in $(seq 100); do
    [ -s "$work/out/label.prn" ] && summary "$work/out/label.prn" 203.2 >/dev/null 2>&1 && break
    sleep 0.1
  done
  got=$(summary "$work/out/label.prn" 203.2)
  [[ "$got" == "label 1: $size "*", copies 1"* ]] || fail "test page: $got"
  got=$(sed -n 's/.*Test label: //p' "$work/app.log" | tail -n 1)
  [ "$got" = "$want" ] || fail "the test label says '$got', expected '$want'"
}

part_ipp() {
  start_app
  sleep 1.1 # printer-up-time must be above 0
  for printer in label label300; do
    ipptool -t "$uri/$printer" "$tests/get-printer-attributes.test" >"$work/gpa.out" 2>&1 ||
      { cat "$work/gpa.out"; fail "get-printer-attributes.test on $printer"; }
  done

  # CUPS's own print test with each format that the application takes.
  "$sample" "$work/page.pwg" 1 812 1218 1 pwg
  "$sample" "$work/page.urf" 1 812 1218 1 urf
  "$sample" "$work/page.ras" 1 812 1218 1
  python3 "$data/gray_label.py" "$work/label.pgm" >"$work/label.dark"
  pnmtopng "$work/label.pgm" >"$work/label.png" 2>/dev/null
  pnmtojpeg --quality=95 "$work/label.pgm" >"$work/label.jpg"
  for file in page.pwg:image/pwg-raster page.urf:image/urf label.png:image/png \
    label.jpg:image/jpeg; do
    : >"$work/out/label.prn"
    ipptool_when_idle -tv -f "$work/${file%%:*}" -d filetype="${file#*:}" "$uri/label" \
      "$tests/print-job.test" >"$work/pj.out" ||
      { cat "$work/pj.out"; fail "print-job.test with ${file#*:}"; }
    # The next job would find the printer busy, and the next check its device file in use.
    [ -f "$work/wait.test" ] || wait_test >"$work/wait.test"
    ipptool -t -d job="$(sed -n 's/^ *job-id (integer) = //p' "$work/pj.out")" "$uri/label" \
      "$work/wait.test" >/dev/null || fail "print-job.test with ${file#*:}: the job did not end"
  done
  # The same page through the filter gives the dots to expect from the raster formats;
  # the gray picture's own dark pixels those of PNG (exact) and JPEG (within 0.5%).
  local expected got
  local kind format copies
  while IFS='|' read -r kind format copies; do
    "$sample" "$work/page$copies.ras" 1 812 1218 "$copies"
    expected=$("$filter" 1 u t "$copies" "PageSize=4.00x6.00in Darkness=8 PrintSpeed=40 MediaTracking=1 PrintMode=0" \
      "$work/page$copies.ras" 2>/dev/null | "$viewer" --check 2>/dev/null)
    print_job "$kind$copies" label "$work/page.$kind" "$format" copies="$copies"
    got=$(summary "$work/jobs/$kind$copies.prn" 203.2)
    [ "$got" = "$expected" ] || fail "$format: got \"$got\", expected \"$expected\""
  done <<'EOF'
pwg|image/pwg-raster|1
urf|image/urf|1
urf|image/urf|3
pwg|image/pwg-raster|2
EOF
  for file in png jpeg; do
    print_job "$file" label "$work/label.${file/jpeg/jpg}" "image/$file" copies=2
    got=$(summary "$work/jobs/$file.prn" 203.2)
    [ "$(echo "$got" | grep -cE ', copies 1(,|$)')" = 2 ] || fail "$file: two labels expected: $got"
    for dark in $(echo "$got" | sed -n 's/.*dark \([0-9]*\) dots.*/\1/p'); do
      local want
      want=$(cat "$work/label.dark")
      if [ "$file" = png ]; then
        [ "$dark" = "$want" ] || fail "png: $dark dark dots, expected $want"
      elif [ $((dark - want)) -gt $((want / 200)) ] || [ $((want - dark)) -gt $((want / 200)) ]; then
        fail "jpeg: $dark dark dots, expected $want within 0.5%"
      fi
    done
  done

  # Two PWG pages through the application with IPP settings and through the filter with
  # the PPD options they stand for: the same command blocks, byte for byte. The printer's
  # label mode and default tear-off position (mode=K, tear-default=N) are set first.
  # Uncollated copies are the printer's (PRINT 1,N in each block, as the filter's for
  # pages that say N copies); collated ones, the default, are the pages sent again for
  # each copy.
  local settings raster options printer dpi w h copies i=0 setting mode tearDefault jobSettings
  local rounds
  while IFS='|' read -r printer raster settings options; do
    [ -n "$printer" ] || continue
    read -r w h copies dpi <<<"$raster"
    i=$((i + 1))
    mode=tear-off tearDefault=0 jobSettings=() rounds=1
    for setting in $settings; do
      case $setting in
      mode=*) mode=${setting#*=} ;;
      tear-default=*) tearDefault=${setting#*=} ;;
      copies=*) rounds=${setting#*=} jobSettings+=("$setting") ;;
      collate=uncollated) rounds=1 jobSettings+=("$setting") ;;
      *) jobSettings+=("$setting") ;;
      esac
    done
    set_label_mode "$printer" "$mode" "$tearDefault"
    "$sample" "$work/same$i.pwg" 2 "$w" "$h" "$copies" pwg "$dpi"
    print_job "same$i" "$printer" "$work/same$i.pwg" image/pwg-raster "${jobSettings[@]}"
    [ "$state" = completed ] || fail "same$i: job $state: $message"
    "$filter" 1 u t 1 "$options" "$work/same$i.pwg" >"$work/same$i-filter.prn" 2>/dev/null
    for _ in $(seq "$rounds"); do cat "$work/same$i-filter.prn"; done >"$work/jobs/same$i-filter.prn"
    cmp "$work/jobs/same$i.prn" "$work/jobs/same$i-filter.prn" >/dev/null ||
      fail "same$i: the application and the filter differ for $settings / $options:
$(summary "$work/jobs/same$i.prn" "$dpi")
$(summary "$work/jobs/same$i-filter.prn" "$dpi")"
  done <<'EOF'
label|812 1218 1 203||PageSize=4.00x6.00in Darkness=8 PrintSpeed=40 MediaTracking=1 PrintMode=0
label|406 203 1 203|size=5080x2540 darkness=27 speed=5080 tracking=continuous left=201 top=100 conversion=dither-ordered|PageSize=2.00x1.00in Darkness=12 PrintSpeed=20 MediaTracking=0 Horizontal=16 Vertical=8 PrintMode=2
label|609 507 1 203|size=7620x6350 darkness=-53 speed=15240 tracking=mark conversion=dither-clustered|PageSize=Custom.216x180 Darkness=0 PrintSpeed=60 MediaTracking=2 PrintMode=3
label|799 1199 3 203|size=10000x15000 copies=3 collate=uncollated darkness=37 conversion=threshold-bold|PageSize=100mmx150mm Darkness=14 PrintSpeed=40 MediaTracking=1 PrintMode=1
label300|1200 900 2 300|size=10160x7620 copies=2 collate=uncollated darkness=47 left=1084 conversion=dither-fine|PageSize=4.00x3.00in Darkness=15 PrintSpeed=40 MediaTracking=1 PrintMode=4 Horizontal=128
label|609 254 1 203|size=7620x3177 darkness=100 speed=6350 left=99999 top=-500|PageSize=3.00x1.25in Darkness=15 PrintSpeed=30 MediaTracking=1 PrintMode=0 Horizontal=128 Vertical=0
label|609 254 1 203|size=7620x3178 darkness=-100 speed=8890 left=1603 top=1602|PageSize=Custom.216x90.08 Darkness=0 PrintSpeed=40 MediaTracking=1 PrintMode=0 Horizontal=128 Vertical=128
label300|900 375 1 300|size=7620x3175 speed=13970 left=-1 top=1100|PageSize=3.00x1.25in Darkness=8 PrintSpeed=60 MediaTracking=1 PrintMode=0 Horizontal=0 Vertical=128
label|406 203 1 203|size=5080x2540 mode=peel-off|PageSize=2.00x1.00in Darkness=8 PrintSpeed=40 MediaTracking=1 PrintMode=0 LabelMode=1
label|406 203 1 203|size=5080x2540 mode=cutter tear=254|PageSize=2.00x1.00in Darkness=8 PrintSpeed=40 MediaTracking=1 PrintMode=0 LabelMode=2 TearOffset=254
label300|900 375 1 300|size=7620x3175 copies=3 mode=tear-off tear=-127|PageSize=3.00x1.25in Darkness=8 PrintSpeed=40 MediaTracking=1 PrintMode=0 LabelMode=0 TearOffset=-127
label|406 203 1 203|size=5080x2540 tear=2540|PageSize=2.00x1.00in Darkness=8 PrintSpeed=40 MediaTracking=1 PrintMode=0 TearOffset=2540
label|406 203 1 203|size=5080x2540 tear=-2540|PageSize=2.00x1.00in Darkness=8 PrintSpeed=40 MediaTracking=1 PrintMode=0 TearOffset=-2540
label|406 203 1 203|size=5080x2540 tear=2541|PageSize=2.00x1.00in Darkness=8 PrintSpeed=40 MediaTracking=1 PrintMode=0 TearOffset=2541
label|406 203 1 203|size=5080x2540 tear=-99999|PageSize=2.00x1.00in Darkness=8 PrintSpeed=40 MediaTracking=1 PrintMode=0 TearOffset=-99999
label|406 203 1 203|size=5080x2540 tear=-1|PageSize=2.00x1.00in Darkness=8 PrintSpeed=40 MediaTracking=1 PrintMode=0 TearOffset=-1
label|406 203 1 203|size=5080x2540 mode=peel-off tear-default=1300|PageSize=2.00x1.00in Darkness=8 PrintSpeed=40 MediaTracking=1 PrintMode=0 LabelMode=1 TearOffset=1300
label|406 203 1 203|size=5080x2540 mode=cutter tear-default=-3000 tear=-500|PageSize=2.00x1.00in Darkness=8 PrintSpeed=40 MediaTracking=1 PrintMode=0 LabelMode=2 TearOffset=-500
label|406 203 1 203|size=5080x2540 tear-default=9999|PageSize=2.00x1.00in Darkness=8 PrintSpeed=40 MediaTracking=1 PrintMode=0 TearOffset=2540
EOF

  test_label "102x152 mm" "STROBANE LABEL 203DPI / 203 DPI  102X152 MM / DARKNESS 53/100  SPEED 4 IN/S / CONVERSION THRESHOLD / MODE TEAR-OFF  TEAR 25.40 MM"

  # The driver picked for a printer found by its device ID.
  local id want
  while IFS='|' read -r id want; do
    got=$("$work/$name" drivers -o "device-id='$id'" | cut -d' ' -f1)
    [ "$got" = "$want" ] || fail "drivers for '$id': got '$got', expected '$want'"
  done <<'EOF'
MFG:Strobane;MDL:Label 203dpi;CMD:LABEL;|strb203
MFG:Strobane;MDL:Label 300dpi;CMD:LABEL;|strb300
MFG:Strobane;MDL:Label;|strb203
MFG:Other;MDL:Label 300dpi;|
EOF

  # Copies as the help and the manual page give them, and no server behind a sub-command.
  local flag count
  while read -r flag count; do
    : >"$work/out/label.prn"
    "$work/$name" submit -d label "$flag" "$count" "$work/label.png" >/dev/null ||
      fail "submit $flag $count"
    for _ in $(seq 100); do
      got=$("$viewer" --check "$work/out/label.prn" 2>/dev/null | grep -c "^label" || true)
      [ "$got" -lt "$count" ] || break
      sleep 0.1
    done
    sleep 0.3
    got=$("$viewer" --check "$work/out/label.prn" 2>/dev/null | grep -cE "copies 1(,|$)" || true)
    [ "$got" = "$count" ] || fail "submit $flag $count printed $got labels"
  done <<'EOF'
-n 2
-c 3
EOF
  ln -s "$(readlink -f "$app")" "$work/$name-none"
  ! got=$("$work/$name-none" printers 2>&1) || fail "printers without a server succeeded"
  [[ "$got" == *"No server is running"* ]] || fail "printers without a server: $got"
  [ ! -e "/run/$name-none.sock" ] && [ ! -e "/tmp/$name-none$(id -u).sock" ] ||
    fail "a sub-command started a server"

  # Every setting a user makes survives a restart, and the next job prints with them.
  cat >"$work/set.test" <<'EOF'
{
  OPERATION Set-Printer-Attributes
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri $uri
  GROUP printer-attributes-tag
  ATTR integer printer-darkness-configured 0
  ATTR integer print-speed-default 6350
  ATTR keyword print-conversion-default dither-fine
  ATTR keyword label-mode-configured cutter
  ATTR integer label-tear-offset-default -381
  ATTR collection media-col-default { MEMBER collection media-size { MEMBER integer x-dimension 5080 MEMBER integer y-dimension 2540 } MEMBER keyword media-source main-roll MEMBER keyword media-type labels MEMBER integer media-left-offset 800 MEMBER integer media-top-offset 400 MEMBER keyword media-tracking continuous }
  STATUS successful-ok
}
EOF
  cat >"$work/get.test" <<'EOF'
{
  OPERATION Get-Printer-Attributes
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri $uri
  ATTR keyword requested-attributes printer-darkness-configured,printer-speed-default,print-conversion-default,printer-state,media-col-default,label-mode-configured,label-tear-offset-default
  STATUS successful-ok
  DISPLAY label-mode-configured
  DISPLAY label-tear-offset-default
  DISPLAY printer-darkness-configured
  DISPLAY printer-speed-default
  DISPLAY print-conversion-default
  DISPLAY printer-state
  DISPLAY media-col-default
}
EOF
  ipptool -t "$uri/label" "$work/set.test" >"$work/set.out" 2>&1 || { cat "$work/set.out"; fail "Set-Printer-Attributes"; }
  "$work/$name" pause -d label || fail "pause"
  sleep 1.5 # the paused state is written within a second
  stop "$app_pid"
  start_printer_app "$work/$name" "$work" -o log-level=debug -o server-options=no-tls
  uri="ipp://127.0.0.1:$port/ipp/print"
  got=$(ipptool -t "$uri/label" "$work/get.test")
  while read -r want; do
    [[ "$got" == *"$want"* ]] || fail "after a restart, '$want' is missing: $got"
  done <<'EOF'
printer-darkness-configured (integer) = 0
printer-speed-default (integer) = 6350
print-conversion-default (keyword) = dither-fine
label-mode-configured (keyword) = cutter
label-tear-offset-default (integer) = -381
printer-state (enum) = stopped
media-left-offset=800
media-top-offset=400
media-tracking=continuous
x-dimension=5080 y-dimension=2540
EOF
  "$work/$name" resume -d label || fail "resume"
  "$sample" "$work/small.pwg" 1 406 203 1 pwg
  print_job restarted label "$work/small.pwg" image/pwg-raster
  got=$(summary "$work/jobs/restarted.prn" 203.2)
  [[ "$got" == "label 1: 51x25 mm "*", gap 0.000,0.000, speed 3, density 0, bitmap 408x203 dots at 64,32, "* ]] ||
    fail "the job after a restart: $got"
  grep -qa $'^OFFSET -0.150\r$' "$work/jobs/restarted.prn" &&
    grep -qa $'^SET CUTTER 1\r$' "$work/jobs/restarted.prn" ||
    fail "the job after a restart lacks its label mode and tear-off position"
  test_label "51x25 mm" "STROBANE LABEL 203DPI / 203 DPI  51X25 MM / DARKNESS 0/100  SPEED 3 IN/S / CONVERSION DITHER-FINE / MODE CUTTER  TEAR -3.81 MM"

  # IPP Everywhere's checks, without the tests whose sample documents Debian does not ship.
  for file in ipp-1.1.test ipp-2.0.test ipp-everywhere.test; do
    awk -v dir="$tests" '
      /^\{/ { block = $0 "\n"; inblock = 1; keep = 1; next }
      inblock {
        block = block $0 "\n"
        if ($1 == "FILE" && $2 !~ /^\$/ && system("test -r \"" dir "/" $2 "\"") != 0) keep = 0
        if (/^\}/) { if (keep) printf "%s", block; inblock = 0 }
        next
      }
      { print }' "$tests/$file" >"$work/$file"
  done
  ipptool -t -f "$work/label.png" "$uri/label" "$work/ipp-everywhere.test" >"$work/ipp-everywhere.out" 2>&1 ||
    { grep -v "PASS\|SKIP" "$work/ipp-everywhere.out" | head -n 40; fail "ipp-everywhere.test"; }
  echo "ipp: $(grep -c PASS "$work/ipp-everywhere.out") IPP Everywhere checks passed"
}

part_bad() {
  start_app
  "$sample" "$work/page.pwg" 1 812 1218 1 pwg
  head -c 60000 "$work/page.pwg" >"$work/cut.pwg"
  "$pwgpage" "$work/huge.pwg" 100000 100000 8 18 203 0
  "$pwgpage" "$work/wide.pwg" 800 100 1 3 203 100 99
  "$pwgpage" "$work/dpi.pwg" 800 100 8 18 300
  "$pwgpage" "$work/short.pwg" 800 100 8 18 203 99
  "$pwgpage" "$work/black1.pwg" 800 100 1 3 203
  "$pwgpage" "$work/gray1.pwg" 800 100 1 18 203
  printf '%%PDF-1.4\n%%%%EOF\n' >"$work/doc.pdf"
  echo "SHIP TO: nowhere" >"$work/text"
  # A label of noise that does not compress, cut at 20 KB and at 177 bytes, and an
  # image just over the pixel bound.
  python3 - "$work" <<'PY'
import random, struct, sys, zlib
def png(path, w, h, row, cut=None):
    chunk = lambda t, d: struct.pack('>I', len(d)) + t + d + struct.pack('>I', zlib.crc32(t + d))
    data = b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', w, h, 8, 0, 0, 0, 0))
    data += chunk(b'IDAT', zlib.compress(b''.join(b'\0' + row(y) for y in range(h)), 1))
    data += chunk(b'IEND', b'')
    open(path, 'wb').write(data[:cut])
noise = random.Random(7)
png(sys.argv[1] + '/cut20k.png', 812, 1218, lambda y: noise.randbytes(812), 20000)
png(sys.argv[1] + '/cut177.png', 812, 1218, lambda y: bytes(812), 177)
png(sys.argv[1] + '/bigimage.png', 4097, 4097, lambda y: bytes(4097))
PY
  local job file format want gone
  while IFS='|' read -r job file format gone want; do
    print_job "$job" label "$work/$file" "$format" gone="$gone"
    [ "$state" = aborted ] || fail "$job: the job is $state, expected aborted"
    [[ "$message" == *"$want"* ]] || fail "$job: job-state-message \"$message\" lacks \"$want\""
    [ ! -s "$work/jobs/$job.prn" ] || fail "$job: $(wc -c <"$work/jobs/$job.prn") bytes reached the device"
    echo "$job: aborted with \"$message\""
    print_job "$job-next" label "$work/page.pwg" image/pwg-raster
    [ "$state" = completed ] || fail "$job-next: the job after it is $state"
    summary "$work/jobs/$job-next.prn" 203.2 >/dev/null
  done <<'EOF'
cut|cut.pwg|image/pwg-raster|2|The page ended after
huge|huge.pwg|image/pwg-raster|0|The page is 100000 dots wide; the print head is 832 dots wide.
wide|wide.pwg|image/pwg-raster|0|Job aborted.
dpi|dpi.pwg|image/pwg-raster|0|The page is 300x300 dpi; this printer prints at 203 dpi.
short|short.pwg|image/pwg-raster|2|of its 100 lines.
black1|black1.pwg|image/pwg-raster|0|Unsupported raster: a page of fewer than 8 bits per pixel; the printer takes 8-bit gray.
gray1|gray1.pwg|image/pwg-raster|0|Unsupported raster: a page of fewer than 8 bits per pixel; the printer takes 8-bit gray.
pdf|doc.pdf|application/pdf|0|Job aborted.
text|text|application/octet-stream|0|Unsupported document: the printer takes PWG or Apple raster, PNG and JPEG.
cut20k|cut20k.png|image/png|0|The PNG image cannot be read
cut177|cut177.png|image/png|0|The PNG image cannot be read
bigimage|bigimage.png|image/png|0|The PNG image is 4097x4097 pixels; the printer takes at most 16777216 pixels, 8192 a side.
EOF
  # Looking for devices with no DNS-SD daemon must not end the server.
  if ! pgrep -x avahi-daemon >/dev/null; then
    timeout 60 "$work/$name" devices >/dev/null 2>&1 || fail "devices failed"
    kill -0 "$app_pid" 2>/dev/null || fail "the server ended while it looked for devices"
    echo "devices: listed without a DNS-SD daemon, the server still runs"
  fi
}

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

part_cupsd() {
  start_app
  mkdir -p "$work"/cups/{etc,spool/tmp,cache,state,log}
  local c="$work/cups" cport
  cport=$(free_port)
  write_cups_files_conf "$c"
  write_cupsd_conf "$c" "127.0.0.1:$cport" "$c/cups.sock"
  cupsd -f -c "$c/etc/cupsd.conf" -s "$c/etc/cups-files.conf" >"$c/log/cupsd.out" 2>&1 &
  cupsd_pid=$!
  export CUPS_SERVER="$c/cups.sock"
  for _ in $(seq 100); do
    lpstat -r 2>/dev/null | grep -q "is running" && break
    sleep 0.1
  done
  lpadmin -p app -E -v "$uri/label" -m everywhere || fail "lpadmin could not add the driverless queue"
  # The queue's default size must be one of its sizes, else CUPS renders Letter.
  local ppd
  for _ in $(seq 50); do
    ppd=$(curl -sf "http://127.0.0.1:$cport/printers/app.ppd") && break
    sleep 0.1
  done
  [[ "$ppd" == *$'\n*DefaultPageSize: 4x6\n'* ]] ||
    fail "the driverless queue's default size is not 4x6: $(echo "$ppd" | grep PageSize)"
  # CUPS names each size from its own table; 4 x 6.5 in is its 102 x 165 mm envelope.
  got=$(echo "$ppd" | sed -n 's/^\*PageSize \([^:]*\):.*/\1/p' | tr '\n' ' ')
  [ "$got" = "1.5x1 100x150mm 2.25x1.25 2x1 2x2 3x1 3x1.25 3x2 3x3 4x1 4x13 4x2 4x3 4x4 4x5 4x6 EnvPRC1 " ] ||
    fail "the driverless queue's sizes: $got"

  gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sOutputFile="$work/labels.pdf" "$data/labels.ps"
  python3 - "$work/big.png" <<'PY'
import struct, sys, zlib
chunk = lambda t, d: struct.pack('>I', len(d)) + t + d + struct.pack('>I', zlib.crc32(t + d))
side = 4097
data = b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', side, side, 8, 0, 0, 0, 0))
data += chunk(b'IDAT', zlib.compress(bytes(side + 1) * side, 1)) + chunk(b'IEND', b'')
open(sys.argv[1], 'wb').write(data)
PY
  local job file media copies labels size got reply id st n=0 result
  [ -f "$work/wait.test" ] || wait_test >"$work/wait.test"
  while IFS='|' read -r job file media copies labels size; do
    n=$((n + 1))
    : >"$work/out/label.prn"
    # shellcheck disable=SC2046
    reply=$(lp -d app $([ "$media" = - ] || echo -o media="$media") -n "$copies" "$work/$file") ||
      fail "$job: lp refused"
    id=${reply#request id is app-}
    id=${id%% *}
    for _ in $(seq 600); do
      st=$(lpstat -W completed -o app | grep -c "^app-$id " || true)
      [ "$st" = 1 ] && break
      sleep 0.2
    done
    [ "$st" = 1 ] || fail "$job: CUPS job $id did not complete: $(tail -n 20 "$c/log/error_log")"
    # CUPS hands the job on once the application has taken it: wait for its printing.
    for _ in $(seq 600); do
      got=$("$viewer" --check "$work/out/label.prn" 2>/dev/null || true)
      [ "$(echo "$got" | grep -c "^label")" -ge "$labels" ] && break
      sleep 0.2
    done
    [ "$(echo "$got" | grep -cE "^label [0-9]*: $size .*, copies 1(,|$)")" = "$labels" ] ||
      fail "$job: expected $labels labels of $size, got:
$got"
    if echo "$got" | grep -q "dark 0 dots"; then fail "$job: a blank label: $got"; fi
    # The application's own job, the one CUPS made for this one, and how it ended.
    result=$(ipptool -t -d job="$n" "$uri/label" "$work/wait.test" 2>&1) || fail "$job: $result"
    st=$(echo "$result" | sed -n 's/^ *job-state (enum) = //p' | tail -n 1)
    got=$(echo "$result" | sed -n 's/^ *job-state-message (textWithoutLanguage) = //p' | tail -n 1)
    if [ "$labels" = 0 ]; then
      [[ "$st" == aborted && "$got" == "$size" ]] || fail "$job: the application's job is $st: $got"
      echo "$job: aborted by the application: $got"
    else
      [ "$st" = completed ] || fail "$job: the application's job is $st: $got"
      echo "$job: $labels labels of $size"
    fi
  done <<EOF
pdf|labels.pdf|na_index-4x6_4x6in|2|4|102x152 mm
png|label.png|oe_2x1-label_2x1in|1|1|51x25 mm
big|big.png|-|1|0|The PNG image is 4097x4097 pixels; the printer takes at most 16777216 pixels, 8192 a side.
default|labels.pdf|-|1|2|102x152 mm
envprc1|labels.pdf|EnvPRC1|1|2|102x165 mm
EOF
}


part_remote() {
  local address code
  address=$(hostname -I 2>/dev/null | tr ' ' '\n' | grep -v ':' | head -n 1)
  if [ -z "$address" ]; then
    echo "skipped: this host has no network address"
    exit 77
  fi
  start_app -o listen-hostname="$address"
  local remote="ipps://$address:$port/ipp/print/label"
  ipptool -t "$remote" "$tests/get-printer-attributes.test" >"$work/tls.out" 2>&1 ||
    { cat "$work/tls.out"; fail "Get-Printer-Attributes over TLS from $address"; }
  "$sample" "$work/page.pwg" 1 812 1218 1 pwg
  ! ipptool -t -f "$work/page.pwg" -d filetype=image/pwg-raster "$remote" \
    "$tests/print-job.test" >"$work/remote-print.out" 2>&1 ||
    fail "printing from the network was allowed without a password"
  grep -q "client-error-not-authenticated" "$work/remote-print.out" ||
    { cat "$work/remote-print.out"; fail "printing from the network did not ask for a password"; }
  cat >"$work/set.test" <<'EOF'
{
  NAME "set darkness"
  OPERATION Set-Printer-Attributes
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri $uri
  GROUP printer-attributes-tag
  ATTR integer printer-darkness-configured 90
  STATUS successful-ok
}
EOF
  ! ipptool -t "$remote" "$work/set.test" >"$work/set.out" 2>&1 ||
    fail "Set-Printer-Attributes from the network was allowed without a password"
  code=$(curl -s -o /dev/null -w "%{http_code}" "http://$address:$port/label/printing")
  [ "$code" = 301 ] || fail "the web interface over plain HTTP from the network answered $code"
  code=$(curl -sk -o /dev/null -w "%{http_code}" "https://$address:$port/label/printing")
  [ "$code" = 401 ] || fail "the printing defaults page from the network answered $code"
  code=$(curl -sk -o /dev/null -w "%{http_code}" "https://$address:$port/label")
  [ "$code" = 200 ] || fail "the printer's status page from the network answered $code"
  # The local socket needs none: the command line still adds printers.
  "$work/$name" add -d local -m strb203 -v "file://$work/out/label.prn" ||
    fail "the local socket refused to add a printer"
  echo "remote: TLS from $address; printing and settings over the network need a password"
}

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

# Run headless Chromium offline: only the application's address resolves.
browser() {
  local sandbox=
  [ "$(id -u)" != 0 ] || sandbox=--no-sandbox
  timeout 60 chromium --headless=new $sandbox --disable-gpu --disable-dev-shm-usage \
    --user-data-dir="$work/chromium" --host-resolver-rules="MAP * ~NOTFOUND, EXCLUDE 127.0.0.1" \
    --window-size=1280,1000 "$@" 2>>"$work/chromium.log"
}

# Open URL in headless Chromium, offline as browser runs it, and take the steps of
# click.py, printing what the page says after each click.
browser_steps() {
  local url=$1 sandbox=
  shift
  [ "$(id -u)" != 0 ] || sandbox=--no-sandbox
  timeout 60 python3 "$data/click.py" "$url" "$@" -- chromium --headless=new $sandbox \
    --disable-gpu --disable-dev-shm-usage --user-data-dir="$work/chromium" \
    --host-resolver-rules="MAP * ~NOTFOUND, EXCLUDE 127.0.0.1" 2>>"$work/chromium.log"
}

# Print the texts of a page that show raw names: a setting headed by its IPP attribute
# name, or a choice shown as its keyword.
raw_names() {
  python3 -c '
import html.parser, re, sys
class Page(html.parser.HTMLParser):
    tag, value, raw = None, None, []
    def handle_starttag(self, tag, attrs):
        self.tag, self.value = tag, dict(attrs).get("value")
    def handle_data(self, text):
        text = text.strip()
        if self.tag == "th" and re.fullmatch(r"[a-z][a-z0-9-]*:", text) or \
           self.tag in ("option", "input") and text == self.value and re.search("[a-z]", text):
            self.raw.append(text)
page = Page()
page.feed(sys.stdin.read())
print(" ".join(page.raw))'
}

# Print a label, then let Chromium show the status, defaults, media and last label pages:
# each renders whole, the defaults show plain names, the media page lists every named
# size, and the preview shows the viewer's summary of what reached the device and a
# picture of the label's size in dots, the same as the viewer draws.
part_web() {
  [ -n "$shots" ] || fail "no folder for the screenshots given"
  mkdir -p "$shots"
  rm -f "$shots"/*.png
  start_app
  python3 "$data/gray_label.py" "$work/label.pgm" >/dev/null
  pnmtopng "$work/label.pgm" >"$work/label.png" 2>/dev/null
  print_job web label "$work/label.png" image/png
  [ "$state" = completed ] || fail "the label's job is $state: $message"
  local web="http://127.0.0.1:$port" expected dots shot path title want size got
  expected=$(summary "$work/jobs/web.prn" 203.2)
  dots=$(echo "$expected" | sed -n 's/.* mm (\([0-9]*x[0-9]*\) dots).*/\1/p')
  "$viewer" --dpi 203.2 -o "$work/view" "$work/jobs/web.prn" >/dev/null 2>&1

  while IFS='|' read -r shot path title want; do
    browser --screenshot="$shots/$shot.png" "$web$path" >/dev/null
    got=$(pngtopam "$shots/$shot.png" 2>/dev/null | pamfile 2>/dev/null || true)
    [[ "$got" == *" 1280 by 1000 "* ]] || fail "$shot: no 1280x1000 screenshot of $path: $got"
    browser --dump-dom "$web$path" >"$work/$shot.html"
    grep -qF "<title>$title - Strobane Label Printers</title>" "$work/$shot.html" ||
      fail "$shot: $path is not titled \"$title\""
    grep -qF "Strobane label printer application</div>" "$work/$shot.html" ||
      fail "$shot: $path ends early"
    grep -qF "$want" "$work/$shot.html" || fail "$shot: $path lacks '$want'"
    echo "$shot: $path rendered, $shots/$shot.png"
  done <<EOF
status|/label/|label|<a class="btn" href="/label/last-label">Last Label</a>
defaults|/label/printing|Printing Defaults - label|<th>Black and white conversion:</th>
media|/label/media|Media - label|<option value="na_index-4x6_4x6in" selected="">4 x 6"</option>
preview|/label/last-label|Last Label - label|<pre class="summary">$expected</pre>
handling|/label/device|Label Handling - label|<input type="submit" id="calibrate" value="Calibrate the label sensor">
EOF

  # Each conversion under its plain name.
  local keyword
  while IFS='|' read -r keyword want; do
    grep -qE "<option value=\"$keyword\"( selected=\"\")?>$want</option>" "$work/defaults.html" ||
      fail "the defaults page does not name $keyword '$want'"
  done <<'EOF'
threshold|Sharp: threshold at mid gray \(barcodes, text\)
threshold-bold|Bold: light grays print black \(thin text\)
dither-ordered|Dithered: fine pattern \(photos, fills\)
dither-clustered|Dithered: clustered dots
dither-fine|Dithered: finest pattern
EOF
  got=$(raw_names <"$work/defaults.html")
  [ -z "$got" ] || fail "the defaults page shows raw names: $got"
  got=$(ipptool -tv "$uri/label" "$tests/get-printer-attributes.test" |
    sed -n 's/.*media-supported (1setOf keyword) = //p')
  for size in ${got//,/ }; do
    [[ $size == custom_* ]] || grep -qF "<option value=\"$size\"" "$work/media.html" ||
      fail "the media page does not list $size"
  done

  # The picture as Chromium loads it from the preview page's own link, and as served.
  path=$(sed -n 's/.*<img id="last-label" src="\([^"]*\)".*/\1/p' "$work/preview.html")
  echo "<img src=\"$web$path\" onload=\"document.title = this.naturalWidth + 'x' + this.naturalHeight\">" \
    >"$work/picture.html"
  got=$(browser --dump-dom "file://$work/picture.html" | sed -n 's/.*<title>\(.*\)<\/title>.*/\1/p')
  [ "$got" = "$dots" ] || fail "the preview picture is '$got', the label $dots dots"
  fetch "$web$path" >"$work/preview.png"
  cmp -s "$work/preview.png" "$work/view-1.png" || fail "the preview picture is not strobane-view's"
  echo "preview: $expected; a picture of $got dots, the same as strobane-view's"

  # Two printers printing at once each keep their own last label (at 8 and 12 dots/mm).
  print_job both203 label "$work/label.png" image/png conversion=dither-ordered &
  local first=$!
  print_job both300 label300 "$work/label.png" image/png conversion=dither-fine
  wait "$first" || fail "the job on label failed"
  for printer in label:both203:203.2 label300:both300:304.8; do
    IFS=: read -r printer job dpi <<<"$printer"
    "$viewer" --dpi "$dpi" -o "$work/$job" "$work/jobs/$job.prn" >/dev/null 2>&1
    fetch "$web/$printer/last-label.png" >"$work/$job-preview.png"
    cmp -s "$work/$job-preview.png" "$work/$job-1.png" ||
      fail "$printer: its preview is not strobane-view's picture of what it printed"
  done
}

# Write what an HTTP GET of the URL returns.
fetch() {
  python3 -c 'import sys, urllib.request; sys.stdout.buffer.write(urllib.request.urlopen(sys.argv[1]).read())' "$1"
}

# Two pages of three copies through a socket:// device into the virtual printer and through
# the file device: the six labels it prints are the viewer's pictures of the file's blocks.
part_virtual() {
  start_app
  local vport vprinter_pid n
  start_virtual_printer "$vprinter" "$work"
  stall_pids=$vprinter_pid
  "$work/$name" add -d virtual -m strb203 -v "socket://127.0.0.1:$vport" ||
    fail "could not add virtual"
  "$sample" "$work/page.pwg" 2 812 1218 1 pwg
  print_job file label "$work/page.pwg" image/pwg-raster copies=3
  print_job socket virtual "$work/page.pwg" image/pwg-raster copies=3
  [ "$state" = completed ] || fail "socket: job $state: $message"
  "$viewer" --dpi 203.2 -o "$work/view" "$work/jobs/file.prn" >/dev/null 2>&1 ||
    fail "the file device's stream is malformed"
  for _ in $(seq 100); do
    grep -q "^label 6 " "$work/virtual.out" && break
    sleep 0.1
  done
  for n in 1 2 3 4 5 6; do
    cmp -s "$work/virtual/label-$n.png" "$work/view-$n.png" ||
      fail "label $n is not the viewer's picture: $(cat "$work/virtual.out")"
  done
  [ ! -e "$work/virtual/label-7.png" ] || fail "the virtual printer printed more than 6 labels"
  ! grep "^malformed" "$work/virtual.out" || fail "the virtual printer found the stream malformed"
  echo "virtual: 2 pages x 3 collated copies through socket://, the viewer's six pictures"

  # Identify-Printer with sound beeps the printer; with display alone it does not.
  local action tracking want said
  for action in display sound; do
    printer_request virtual Identify-Printer "Identify-Printer $action" \
      "ATTR keyword identify-actions $action"
  done
  wait_for_line "^sound level=5 interval=200" || fail "Identify-Printer with sound did not beep"
  [ "$(grep -c "^sound" "$work/virtual.out")" = 1 ] || fail "display beeped too"

  # The Label Handling page's buttons as Chromium clicks them: the calibration follows the
  # media's tracking, and the label mode chosen is the printer's and its next job's.
  "$work/$name" add -d gone -m strb203 -v "socket://127.0.0.1:$(free_port)" ||
    fail "could not add gone"
  local printer steps
  while IFS='|' read -r printer tracking steps want said; do
    set_tracking "$printer" "$tracking"
    # shellcheck disable=SC2086
    got=$(browser_steps "http://127.0.0.1:$port/$printer/device" $steps) ||
      fail "$steps on $tracking media: Chromium: $got"
    [ "$got" = "$said" ] || fail "$steps on $tracking media: the page says '$got', not '$said'"
    [ -z "$want" ] || wait_for_line "$want" || fail "$steps on $tracking media: no '$want'"
  done <<'EOF'
virtual|gap|click:feed|^feed time=|Sent FORMFEED to the printer.
virtual|gap|click:calibrate|^calibrate time=.* sensor=gap|Sent GAPDETECT to the printer.
virtual|mark|click:calibrate|^calibrate time=.* sensor=black-mark|Sent BLINEDETECT to the printer.
gone|gap|click:feed||The printer could not be reached, or was busy: FORMFEED was not sent.
virtual|gap|set:label-mode=peel-off click:set-label-mode||The label mode is now Peel-off.
EOF
  print_job peeled virtual "$work/page.pwg" image/pwg-raster
  wait_for_line "^label 7 .* peel=ON cutter=OFF partial-cutter=OFF tear=OFF" ||
    fail "the label mode chosen in the page did not reach the next job"

  # Forms that do not come from the page, and continuous media, send nothing.
  set_tracking virtual continuous
  device_form virtual calibrate "$(device_token virtual)" own
  grep -qF "Continuous media has no labels to measure" "$work/device.html" ||
    fail "calibration on continuous media"
  device_form virtual feed "$(device_token virtual)" "http://elsewhere.example"
  grep -qF "not sent from this page" "$work/device.html" || fail "a form from elsewhere fed a label"
  device_form virtual feed wrong-token own
  grep -qF "not sent from this page" "$work/device.html" || fail "a form without the token fed a label"
  fetch "http://127.0.0.1:$port/virtual/device" >"$work/device.html"
  ! grep -qF 'value="calibrate"' "$work/device.html" || fail "calibration offered for continuous media"
  [ "$(grep -c "^feed" "$work/virtual.out")" = 1 ] || fail "more than one label fed"
  [ "$(grep -c "^calibrate" "$work/virtual.out")" = 2 ] || fail "not two calibrations"
  echo "virtual: Identify-Printer beeps; Chromium's clicks send FORMFEED, GAPDETECT, BLINEDETECT"
}

# Wait up to 10 s for a line of the virtual printer's matching the pattern.
wait_for_line() {
  for _ in $(seq 100); do
    grep -q "$1" "$work/virtual.out" && return 0
    sleep 0.1
  done
  return 1
}

# Set the media tracking of PRINTER's default media (4 x 6 in labels).
set_tracking() {
  printer_request "$1" Set-Printer-Attributes "could not set $1's tracking to $2" \
    "GROUP printer-attributes-tag" "ATTR collection media-col-default { MEMBER collection media-size { MEMBER integer x-dimension 10160 MEMBER integer y-dimension 15240 } MEMBER keyword media-tracking $2 }"
}

# The session token in PRINTER's Feed and Calibrate page.
device_token() {
  fetch "http://127.0.0.1:$port/$1/device" | sed -n 's/.*name="session" value="\([^"]*\)".*/\1/p' |
    head -n 1
}

# Post ACTION to PRINTER's Feed and Calibrate page with TOKEN from ORIGIN (own: the
# page's); the page answered is in device.html.
device_form() {
  local origin=$4
  [ "$origin" = own ] && origin="http://127.0.0.1:$port"
  curl -s -o "$work/device.html" -H "Origin: $origin" --data "session=$3&action=$2" \
    "http://127.0.0.1:$port/$1/device"
}

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

# The virtual printer's buttons, through a fifo, in IPP's printer-state-reasons; jobs
# that wait for labels, a cancel while waiting, the printer away then back, and a
# device that never answers its status query.
part_status() {
  start_app
  local vport vprinter_pid press release reason sink
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
cover-open|cover-close|cover-open
jam|clear|media-jam
ribbon-out|ribbon-in|marker-supply-empty
pause|resume|other
hot|cool|other
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

  echo "load 0" >&4
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
  sleep 1
  start_virtual_printer "$vprinter" "$work" "$work/buttons" --port "$vport" --time-scale 0.05
  stall_pids=$vprinter_pid
  wait_shown "$last_job" completed
  wait_shown printer none
  [ "$(labels_out)" = 1 ] || fail "the printer started late printed $(labels_out) labels"

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
  submit virtual 1
  wait_shown "$last_job" processing
  SECONDS=0
  stop "$app_pid"
  app_pid=
  echo resume >&4
  sleep 1
  [ "$SECONDS" -le 4 ] && [ "$(labels_out)" = 1 ] ||
    fail "a stop while waiting took $SECONDS s and printed $(($(labels_out) - 1)) labels"
  echo "status: 7 states in printer-state-reasons, jobs wait for labels and for a printer"
}

# Print what one way in gave, for the guard table: CHECK is the kind of attempt.
#   socket ACCOUNT                 connect to the local socket as ACCOUNT
#   add ACCOUNT URI                add a printer through the local socket as ACCOUNT
#   ipp WHERE WHO PATH OP ATTR...  an IPP request (WHERE loop, net or plain; WHO - or ACCOUNT)
#   get WHERE WHO URL-PATH         an HTTP GET: its status and how many job names it shows
#   post WHERE WHO URL-PATH DATA   an HTTP POST of the form data, as get
#   form WHO TOKEN ORIGIN          the printer page's "Print Test Page" form: printed or not
#   mode PATH                      the file's mode and owner
#   exposure UNIT                  systemd-analyze's figure for the unit
guard_try() {
  local check=$1 where who url token origin code
  shift
  case $check in
  socket)
    runuser -u "$1" -- curl -s -o /dev/null --unix-socket "/run/$name.sock" http://localhost/ &&
      echo connected || echo "refused ($?)"
    ;;
  add)
    runuser -u "$1" -- timeout 20 "$work/$name" add -d "by-$1" -m strb203 -v "$2" 2>&1 &&
      echo added || true
    ;;
  ipp | get | post)
    where=$1 who=$2
    shift 2
    url="https://$host_address:$port"
    [ "$where" = loop ] && url="http://127.0.0.1:$port"
    [ "$where" = plain ] && url="http://$host_address:$port"
    local run=()
    [ "$where" = loop ] || run=(ip netns exec "$netns")
    if [ "$check" = ipp ]; then
      local path=$1 operation=$2
      shift 2
      [ "$who" = - ] || set -- -u "$who:$password" "$@"
      "${run[@]}" python3 "$data/ipp_request.py" "$url$path" "$operation" "$@"
    else
      local auth=()
      [ "$who" = - ] || auth=(-u "$who:$password")
      [ "$check" = get ] || auth+=(--data "$2")
      code=$("${run[@]}" curl -sk "${auth[@]}" -o "$work/page.html" -w "%{http_code}" "$url$1")
      echo "$code, $(grep -c "secret-" "$work/page.html" || true) job names"
      grep -o "only to those who may administer" "$work/page.html" || true
    fi
    ;;
  form)
    who=$1 token=$2 origin=$3
    local auth=()
    [ "$who" = - ] || auth=(-u "$who:$password")
    [ "$token" = public ] && token=$public_token || token=$admin_token
    [ "$origin" = own ] && origin="http://127.0.0.1:$port"
    : >"$work/svc/devices/label.prn"
    curl -s -o /dev/null "${auth[@]}" -H "Origin: $origin" \
      --data "session=$token&action=print-test-page" "http://127.0.0.1:$port/label/"
    sleep 1
    [ -s "$work/svc/devices/label.prn" ] && echo printed || echo "not printed"
    ;;
  mode) stat -c "%a %U:%G" "$1" ;;
  exposure)
    code=$(systemd-analyze security --offline=true "$1" 2>&1 |
      sed -n 's/.*Overall exposure level for .*: \([0-9.]*\) .*/\1/p')
    awk -v x="$code" 'BEGIN { exit !(x != "" && x <= 2.5) }' && echo "at most 2.5 ($code)" ||
      echo "exposure $code"
    ;;
  esac
}

# Accounts of the test's own (the server's, an administrator, an ordinary one) and its
# own admin group, a network namespace joined to this host by a veth pair, and the
# application started as root, leaving root for its account; then each way in of the
# table, which must give what its last column says.
part_guard() {
  local svc="stbs$$" adm="stba$$" usr="stbu$$" group="stbg$$"
  netns="stbn$$"
  local base="10.$((RANDOM % 200 + 20)).$((RANDOM % 250)).$((RANDOM % 60 * 4))"
  host_address=${base%.*}.$((${base##*.} + 1))
  local ns_address=${base%.*}.$((${base##*.} + 2))
  password="Gu4rd-$$-$RANDOM"
  guard_undo="guard_clean $svc $adm $usr $group"
  groupadd "$group"
  useradd --system -M -d "$work/svc/home" -s /usr/sbin/nologin -G lp,shadow "$svc"
  useradd -M -s /bin/sh -G "$group" "$adm"
  useradd -M -s /bin/sh "$usr"
  printf '%s:%s\n%s:%s\n' "$adm" "$password" "$usr" "$password" | chpasswd
  ip netns add "$netns"
  ip link add "sth$$" type veth peer name "stp$$"
  ip link set "stp$$" netns "$netns"
  ip addr add "$host_address/30" dev "sth$$"
  ip link set "sth$$" up
  ip netns exec "$netns" ip addr add "$ns_address/30" dev "stp$$"
  ip netns exec "$netns" ip link set "stp$$" up

  mkdir -p "$work/svc"/{spool,devices,home}
  : >"$work/svc/devices/label.prn"
  chown -R "$svc:" "$work/svc"
  # Other accounts run the program too, which the build tree (under /root, say) may hide.
  rm "$work/$name"
  cp "$(readlink -f "$app")" "$work/$name"
  ln -sf svc/app.log "$work/app.log"
  start_printer_app "$work/$name" "$work/svc" -o user="$svc" -o admin-group="$group" \
    -o auth-service=strobane-printer-app -o device-directory="$work/svc/devices" \
    -o listen-hostname="$host_address" -o log-level=debug
  "$work/$name" add -d label -m strb203 -v "file://$work/svc/devices/label.prn" ||
    fail "root could not add a printer through the local socket"
  "$sample" "$work/page.pwg" 1 406 203 1 pwg
  local pwg=(-f "$work/page.pwg" document-format:mimeMediaType=image/pwg-raster)
  local got
  got=$(guard_try ipp loop - /ipp/print/label Print-Job "${pwg[@]}" \
    requesting-user-name:name=alice job-name:name=secret-alice)
  [[ "$got" == *"job-id = 1"* ]] || fail "an unsigned job on loopback was refused: $got"
  got=$(guard_try ipp net "$adm" /ipp/print/label Print-Job "${pwg[@]}" \
    requesting-user-name:name=mallory job-name:name=secret-admin)
  [[ "$got" == *"job-id = 2"* ]] || fail "the administrator's job was refused: $got"
  local tokens='s/.*name="session" value="\([^"]*\)".*/\1/p'
  public_token=$(curl -s "http://127.0.0.1:$port/label/" | sed -n "$tokens" | head -n 1)
  admin_token=$(curl -s -u "$adm:$password" "http://127.0.0.1:$port/label/" |
    sed -n "$tokens" | head -n 1)

  local create="printer-service-type:keyword=print smi55357-driver:keyword=strb203"
  local attempt check want count=0
  while IFS='|' read -r attempt check want; do
    [ -n "$attempt" ] || continue
    # shellcheck disable=SC2086
    got=$(guard_try $check 2>&1)
    [[ "$got" == *"$want"* ]] || fail "$attempt: got \"$got\", expected \"$want\""
    echo "$attempt: $want"
    count=$((count + 1))
  done <<EOF
ordinary user, local socket|socket $usr|refused
admin group member, local socket|add $adm file://$work/svc/devices/label.prn|added
unsigned, loopback, file device in /etc/profile.d|ipp loop - /ipp/system Create-Printer printer.printer-name:name=evil $create smi55357-device-uri:uri=file:///etc/profile.d?ext=sh|http 401
ordinary account, loopback, file device|ipp loop $usr /ipp/system Create-Printer printer.printer-name:name=evil $create smi55357-device-uri:uri=file://$work/svc/devices/label.prn|http 403
administrator, file device outside the allowed directory|ipp loop $adm /ipp/system Create-Printer printer.printer-name:name=evil $create smi55357-device-uri:uri=file://$work/svc?ext=sh|Operation not permitted
administrator, file device inside it|ipp loop $adm /ipp/system Create-Printer printer.printer-name:name=fine $create smi55357-device-uri:uri=file://$work/svc/devices/label.prn|status successful-ok
unsigned, loopback, cancel a job claiming its owner's name|ipp loop - /ipp/print/label Cancel-Job requesting-user-name:name=$adm job-id:integer=2|http 401
unsigned, loopback, read a job claiming its owner's name|ipp loop - /ipp/print/label Get-Job-Attributes requesting-user-name:name=$adm job-id:integer=2|http 401
unsigned, loopback, read its own job under its name|ipp loop - /ipp/print/label Get-Job-Attributes requesting-user-name:name=alice job-id:integer=1|job-originating-user-name = alice@localhost
ordinary account, network, cancel another's job|ipp net $usr /ipp/print/label Cancel-Job job-id:integer=2|http 403
owner, network, cancel own job (ended)|ipp net $adm /ipp/print/label Cancel-Job job-id:integer=2|already completed
ordinary account, network, list every job|ipp net $usr /ipp/print/label Get-Jobs|http 403
signed-in job's owner is the account, not the name claimed|ipp net $adm /ipp/print/label Get-Job-Attributes job-id:integer=2|job-originating-user-name = $adm
ordinary account, network, last label's picture|get net $usr /label/last-label.png|403
ordinary account, network, last label's page|get net $usr /label/last-label|only to those who may administer
ordinary account, network, label handling page|get net $usr /label/device|only to those who may administer
ordinary account, network, feed a label|post net $usr /label/device action=feed|403
unsigned, network, label handling page|get net - /label/device|401
plain HTTP from the network, status|get plain - /|301
plain HTTP from the network, printer page|get plain - /label/|301
plain IPP from the network, job attributes|ipp plain $adm /ipp/print/label Get-Job-Attributes job-id:integer=2|http 426
unsigned, network over TLS, printer page|get net - /label/|200, 0 job names
administrator, network, printer page|get net $adm /label/|200, 2 job names
form with the public token, unsigned, foreign origin|form - public http://evil.example|not printed
form with the public token, administrator|form $adm public own|not printed
form with the administrator's token, foreign origin|form $adm admin http://evil.example|not printed
form with the administrator's token from its own page|form $adm admin own|printed
state file|mode $work/svc/app.state|600 $svc:$svc
spool directory|mode $work/svc/spool|700 $svc:$svc
log|mode $work/svc/app.log|600 $svc:$svc
local socket|mode /run/$name/$name.sock|660 $svc:$group
TLS key|mode $(ls "$work"/svc/home/.cups/ssl/*.key 2>/dev/null | head -n 1)|600 $svc:$svc
the server's account|mode /proc/$app_pid|555 $svc:$svc
the unit's exposure|exposure $(dirname "$0")/../app/strobane-printer-app.service|at most 2.5
EOF
  echo "guard: $count ways in, each refused or allowed as it should be"
}

# Undo part_guard's accounts, group, network namespace and runtime files.
guard_clean() {
  [ -z "$app_pid" ] || stop "$app_pid"
  app_pid=
  ip netns del "$netns" 2>/dev/null || true
  ip link del "sth$$" 2>/dev/null || true
  for account in "$1" "$2" "$3"; do userdel "$account" 2>/dev/null || true; done
  groupdel "$4" 2>/dev/null || true
  rm -rf "/run/$name" "/run/$name.sock"
}

case $part in
ipp) part_ipp ;;
virtual) part_virtual ;;
status) part_status ;;
guard) part_guard ;;
web) part_web ;;
bad) part_bad ;;
busy) part_busy ;;
slow) part_slow ;;
remote) part_remote ;;
cupsd)
  python3 "$data/gray_label.py" "$work/label.pgm" >/dev/null
  pnmtopng "$work/label.pgm" >"$work/label.png" 2>/dev/null
  part_cupsd
  ;;
*) fail "unknown part $part" ;;
esac
echo "printer application ($part): all checks passed"

