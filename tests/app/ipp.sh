#!/bin/bash
# SPDX-License-Identifier: Apache-2.0
# CUPS's get-printer-attributes, print-job and ipp-everywhere tests on the real printer
# application; the same page through the application and through the filter gives the
# same bytes.
# shellcheck source=tests/app/lib.sh
. "$(dirname "$0")/lib.sh"

# Set PRINTER's label mode and default tear-off position.
set_label_mode() {
  printer_request "$1" Set-Printer-Attributes "could not set $1's label mode" \
    "GROUP printer-attributes-tag" "ATTR keyword label-mode-configured $2" \
    "ATTR integer label-tear-offset-default $3"
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

  # Copies as the help and the manual page give them (command_line_test has the rewrite
  # of -n and -c), and no server behind a sub-command.
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
EOF
  # A copy count or a printer name that cannot be kept is an error, not one copy or a
  # printer that no command reaches again (command_line_test and device_rule_test have
  # the rules).
  ! got=$("$work/$name" submit -d label -n 0 "$work/label.png" 2>&1) || fail "-n 0 printed"
  [[ "$got" == *"Bad copy count '0' for -n"* ]] || fail "-n 0: $got"
  for subcommand in status jobs; do
    ! got=$("$work/$name" "$subcommand" -d nosuch 2>&1) || fail "$subcommand -d nosuch succeeded"
    [[ "$got" == *"No printer named 'nosuch'."* ]] || fail "$subcommand -d nosuch: $got"
  done
  # PAPPL's "status" leaks its connection, which the sanitized build would report.
  "$work/$name" jobs -d label >/dev/null || fail "jobs -d label failed"
  ! got=$("$work/$name" add -d ../x -m strb203 -v "file://$work/out/label.prn" 2>&1) ||
    fail "a printer named ../x was added"
  [[ "$got" == *"Printer names must start with a letter"* ]] || fail "add -d ../x: $got"
  ln -s "$(readlink -f "$app")" "$work/$name-none"
  for subcommand in printers status shutdown; do
    ! got=$("$work/$name-none" "$subcommand" 2>&1) || fail "$subcommand without a server succeeded"
    [[ "$got" == *"No server is running"* ]] || fail "$subcommand without a server: $got"
  done
  [ ! -e "/run/$name-none.sock" ] && [ ! -e "/tmp/$name-none$(id -u).sock" ] ||
    fail "a sub-command started a server"

  # A job held until a time stays held until then, is released, and prints.
  print_job held label "$work/label.png" image/png hold=3
  [ "$state" = completed ] && [ -s "$work/jobs/held.prn" ] || fail "the held job ended $state: $message"
  grep -q "\[Job $last_job\] Released: the time it was held until has come" "$work/app.log" ||
    fail "job $last_job was not held until its time"

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

  # A printer definition PAPPL cannot read ends its reading of the state file: each
  # printer it then drops is named in the log.
  stop "$app_pid"
  app_pid=
  sed -i '0,/^<Printer /s//<Printer id=90 did="" uri=file:\/\/\/x driver=strb203>\n<\/Printer>\n&/' \
    "$work/app.state"
  start_printer_app "$work/$name" "$work" -o log-level=debug -o server-options=no-tls
  grep -q "Printer 'label', defined on line [0-9]* of '.*app.state', was not loaded." \
    "$work/app.log" && grep -q "The printer defined on line [0-9]* of .* has no name" "$work/app.log" ||
    fail "the printers dropped from the state file are not named"
}

part_ipp
echo "printer application (ipp): all checks passed"
