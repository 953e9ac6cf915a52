#!/bin/bash
# SPDX-License-Identifier: Apache-2.0
# A printer on a socket:// device into the virtual printer, which prints the pictures
# that the viewer draws of the same job on a file device; it beeps for
# Identify-Printer, and Chromium clicks the Label Handling page's buttons.
# shellcheck source=tests/app/lib.sh
. "$(dirname "$0")/lib.sh"

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

  # Forms without the page's token, and continuous media, send nothing (page_guard_test
  # has the origin check).
  set_tracking virtual continuous
  device_form virtual calibrate "$(device_token virtual)" own
  grep -qF "Continuous media has no labels to measure" "$work/device.html" ||
    fail "calibration on continuous media"
  device_form virtual feed wrong-token own
  grep -qF "not sent from this page" "$work/device.html" || fail "a form without the token fed a label"
  fetch "http://127.0.0.1:$port/virtual/device" >"$work/device.html"
  ! grep -qF 'value="calibrate"' "$work/device.html" || fail "calibration offered for continuous media"
  [ "$(grep -c "^feed" "$work/virtual.out")" = 1 ] || fail "more than one label fed"
  [ "$(grep -c "^calibrate" "$work/virtual.out")" = 2 ] || fail "not two calibrations"
  echo "virtual: Identify-Printer beeps; Chromium's clicks send FORMFEED, GAPDETECT, BLINEDETECT"
}

part_virtual
echo "printer application (virtual): all checks passed"
