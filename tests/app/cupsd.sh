#!/bin/bash
# SPDX-License-Identifier: Apache-2.0
# lp through a driverless CUPS queue into the printer application, and PDF through a
# queue with the PPD and through the application to the same bytes (as root; exit status
# 77 means skipped).
if [ "$(id -u)" != 0 ]; then
  echo "skipped: cupsd must be started as root"
  exit 77
fi
# shellcheck source=tests/app/lib.sh
. "$(dirname "$0")/lib.sh"
# shellcheck source=tests/private_cupsd.sh
. "$tests_dir/private_cupsd.sh"

# Print FILE on the CUPS queue QUEUE with the lp options that follow and wait until CUPS
# has completed it; JOB names it in failures.
lp_job() {
  local job=$1 queue=$2 file=$3 reply id st
  shift 3
  reply=$(lp -d "$queue" "$@" "$file") || fail "$job: lp refused"
  id=${reply#request id is "$queue"-}
  id=${id%% *}
  for _ in $(seq 600); do
    st=$(lpstat -W completed -o "$queue" | grep -c "^$queue-$id " || true)
    [ "$st" = 1 ] && return
    sleep 0.2
  done
  fail "$job: CUPS job $id did not complete: $(tail -n 20 "$work/cups/log/error_log")"
}

part_cupsd() {
  python3 "$data/gray_label.py" "$work/label.pgm" >/dev/null
  pnmtopng "$work/label.pgm" >"$work/label.png" 2>/dev/null
  start_app
  mkdir -p "$work"/cups/{etc,spool/tmp,cache,state,log}
  local c="$work/cups" cport
  cport=$(free_port)
  write_cups_files_conf "$c" "ServerBin $c/serverbin" "FileDevice Yes"
  write_server_bin "$c" "$filter"
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
  local job file media copies labels size got st n=0 result
  [ -f "$work/wait.test" ] || wait_test >"$work/wait.test"
  while IFS='|' read -r job file media copies labels size; do
    n=$((n + 1))
    : >"$work/out/label.prn"
    # shellcheck disable=SC2046
    lp_job "$job" app "$work/$file" $([ "$media" = - ] || echo -o media="$media") -n "$copies"
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

# The same PDF printed by a CUPS queue with the model's PPD, through Debian's filters and
# the strobane filter, and by the application: the same blocks, byte for byte.
part_same_pdf() {
  local c="$work/cups" samples="$tests_dir/../samples" pdfs="$work/pdfs"
  mkdir -p "$pdfs"
  add_pdf() {
    gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sOutputFile="$pdfs/$1" "${@:2}" ||
      fail "could not make $1"
  }
  add_pdf sample.pdf "$samples/shipping-label.ps"
  add_pdf badge.pdf "$data/badge.ps"
  add_pdf three.pdf "$samples/shipping-label.ps" "$samples/shipping-label.ps" "$samples/shipping-label.ps"
  add_pdf letter.pdf -sPAPERSIZE=letter -dFIXEDMEDIA "$samples/shipping-label.ps"
  add_pdf a4.pdf -sPAPERSIZE=a4 -dFIXEDMEDIA "$samples/shipping-label.ps"
  add_pdf landscape.pdf -dDEVICEWIDTHPOINTS=432 -dDEVICEHEIGHTPOINTS=288 -dFIXEDMEDIA \
    "$samples/shipping-label.ps"
  # A queue with each model's PPD, named for the application's printer of that model.
  local printer dpi
  for printer in label:strb203 label300:strb300; do
    lpadmin -p "${printer%%:*}" -E -v "file://$c/cups-${printer%%:*}.prn" \
      -P "$STROBANE_PPD_DIR/${printer#*:}.ppd" -o printer-error-policy=abort-job ||
      fail "lpadmin could not add the queue with the PPD ${printer#*:}"
  done
  local job file size media settings options got want
  while IFS='|' read -r job printer file size media settings options; do
    dpi=203.2
    [ "$printer" = label ] || dpi=300
    : >"$c/cups-$printer.prn"
    # shellcheck disable=SC2086
    lp_job "$job" "$printer" "$pdfs/$file" -o media="$media" $options
    cp "$c/cups-$printer.prn" "$work/jobs/$job-cups.prn"
    # shellcheck disable=SC2086
    print_job "$job" "$printer" "$pdfs/$file" application/pdf size="$size" $settings
    [ "$state" = completed ] || fail "$job: the application's job is $state: $message"
    got=$(summary "$work/jobs/$job.prn" "$dpi")
    want=$(summary "$work/jobs/$job-cups.prn" "$dpi")
    cmp -s "$work/jobs/$job.prn" "$work/jobs/$job-cups.prn" ||
      fail "$job: the application and the CUPS queue differ:
$got
$want"
    [[ "$got" != *"dark 0 dots"* ]] || fail "$job: a blank label: $got"
    echo "$job: the same $(echo "$got" | grep -c '^label') label(s) as the CUPS queue"
  done <<'EOF'
sample|label|sample.pdf|10160x15240|na_index-4x6_4x6in||
sample-300|label300|sample.pdf|10160x15240|na_index-4x6_4x6in||
sample-copies|label|sample.pdf|10160x15240|na_index-4x6_4x6in|copies=2 collate=uncollated|-n 2
badge|label|badge.pdf|5080x2540|oe_2x1-label_2x1in||
three|label|three.pdf|10160x15240|na_index-4x6_4x6in||
three-ranges|label|three.pdf|10160x15240|na_index-4x6_4x6in|ranges=2-3|-o page-ranges=2-3
letter|label|letter.pdf|10160x15240|na_index-4x6_4x6in||
letter-fit|label|letter.pdf|10160x15240|na_index-4x6_4x6in|scaling=fit|-o print-scaling=fit
letter-none|label|letter.pdf|10160x15240|na_index-4x6_4x6in|scaling=none|-o print-scaling=none
letter-auto-fit|label|letter.pdf|10160x15240|na_index-4x6_4x6in|scaling=auto-fit|-o print-scaling=auto-fit
a4-fill|label|a4.pdf|10160x15240|na_index-4x6_4x6in|scaling=fill|-o print-scaling=fill
landscape|label|landscape.pdf|10160x15240|na_index-4x6_4x6in||
landscape-turned|label|landscape.pdf|10160x15240|na_index-4x6_4x6in|orientation=5|-o orientation-requested=5
sample-upside-down|label|sample.pdf|10160x15240|na_index-4x6_4x6in|orientation=6|-o orientation-requested=6
EOF
}

part_cupsd
part_same_pdf
echo "printer application (cupsd): all checks passed"
