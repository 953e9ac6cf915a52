# SPDX-License-Identifier: Apache-2.0
# What the printer application's end-to-end tests share, sourced by each of them: every
# test in this directory drives the real application on 127.0.0.1 with ipptool, curl or
# Chromium, and checks the label streams that reach its devices.
# Usage: PART.sh APP FILTER VIEWER SAMPLE_RASTER PWG_PAGE DATA_DIR SHOTS VIRTUAL_PRINTER
# A failed run leaves its logs and device files in $STROBANE_E2E_FAILED/PART;
# KEEP_E2E=1 keeps the work directory.
# The variables set here are read by the parts, which shellcheck sees one at a time.
# shellcheck shell=bash disable=SC2034
set -euo pipefail
tests_dir=$(dirname "$(dirname "$(readlink -f "$0")")")
# shellcheck source=tests/local_server.sh
. "$tests_dir/local_server.sh"
export LC_ALL=C

part=$(basename "$0" .sh)
app=$1 filter=$2 viewer=$3 sample=$4 pwgpage=$5 data=$6 shots=${7:-} vprinter=${8:-}
tests=/usr/share/cups/ipptool

work=$(mktemp -d /tmp/strobane-app.XXXXXX)
chmod 0755 "$work"
mkdir -p "$work"/{out,jobs,spool}
# In the sanitized build, PAPPL's own leaks at exit would fail every command. The
# suppressions are read from here, where the accounts of the access test can read them.
cp "$tests_dir/app_lsan.supp" "$work/"
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
# A server removes its local socket and lock files when it ends; one that was killed leaves
# them, and one that ran as an account of its own its folder, under /run (root) or in the
# temporary folder, named after the name it ran under: one of the test's links.
remove_runtime_files() {
  local link base tmp=${TMPDIR:-/tmp}
  for link in "$work/$name"*; do
    [ -L "$link" ] || continue
    base=$(basename "$link")
    rm -rf "/run/$base" "/run/$base.sock" "/run/$base.sock.lock" "$tmp/$base$(id -u).sock" \
      "$tmp/$base$(id -u).sock.lock" 2>/dev/null || true
  done
}
stall_pids=
# What a part sets up beyond its work directory and servers, undone on the way out.
undo_part=:
cleanup() {
  local status=$?
  [ -z "$stall_pids" ] || kill $stall_pids 2>/dev/null || true
  $undo_part
  [ -z "$cupsd_pid" ] || stop "$cupsd_pid"
  [ -z "$app_pid" ] || stop "$app_pid"
  remove_runtime_files
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
# top=N, conversion=K, tear=N in hundredths of mm, hold=N seconds from now, scaling=K,
# orientation=N, ranges=FIRST-LAST).
job_test() {
  local attrs="" media="" setting
  for setting in "$@"; do
    case $setting in
    copies=*) attrs+="ATTR integer copies ${setting#*=}"$'\n' ;;
    collate=*) attrs+="ATTR keyword multiple-document-handling separate-documents-${setting#*=}-copies"$'\n' ;;
    darkness=*) attrs+="ATTR integer print-darkness ${setting#*=}"$'\n' ;;
    speed=*) attrs+="ATTR integer print-speed ${setting#*=}"$'\n' ;;
    conversion=*) attrs+="ATTR keyword print-conversion ${setting#*=}"$'\n' ;;
    scaling=*) attrs+="ATTR keyword print-scaling ${setting#*=}"$'\n' ;;
    orientation=*) attrs+="ATTR enum orientation-requested ${setting#*=}"$'\n' ;;
    ranges=*) attrs+="ATTR rangeOfInteger page-ranges ${setting#*=}"$'\n' ;;
    tear=*) attrs+="ATTR integer label-tear-offset ${setting#*=}"$'\n' ;;
    hold=*)
      attrs+="ATTR dateTime job-hold-until-time $(date -u -d "+${setting#*=} sec" +%Y-%m-%dT%H:%M:%SZ)"$'\n'
      ;;
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

# Print the viewer's summary of a stream, failing unless it is well formed.
summary() {
  "$viewer" --check --dpi "$2" "$1" 2>/dev/null || fail "$1 is not a well-formed stream"
}

# Run headless Chromium offline: only the application's address resolves.
browser() {
  local sandbox=
  [ "$(id -u)" != 0 ] || sandbox=--no-sandbox
  timeout 60 chromium --headless=new $sandbox --disable-gpu --disable-dev-shm-usage \
    --user-data-dir="$work/chromium" --host-resolver-rules="MAP * ~NOTFOUND, EXCLUDE 127.0.0.1" \
    --window-size=1280,1000 "$@" 2>>"$work/chromium.log"
}

# Write what an HTTP GET of the URL returns.
fetch() {
  python3 -c 'import sys, urllib.request; sys.stdout.buffer.write(urllib.request.urlopen(sys.argv[1]).read())' "$1"
}
