#!/bin/bash
# SPDX-License-Identifier: Apache-2.0
# Print real documents through a private cupsd into the strobane filter and
# check the label streams that come out, block by block and dot by dot.
# Usage: cupsd_e2e.sh FILTER PPD_203DPI PPD_300DPI DATA_DIR VIEWER VIRTUAL_PRINTER
# Runs as root (cupsd then runs the filter as lp, as a real system does); exit
# status 77 means skipped. KEEP_E2E=1 keeps the work directory for inspection.
set -euo pipefail
# shellcheck source=tests/private_cupsd.sh
. "$(dirname "$0")/private_cupsd.sh"
# shellcheck source=tests/local_server.sh
. "$(dirname "$0")/local_server.sh"
export LC_ALL=C

filter=$1 ppd=$2 ppd300=$3 data=$4 viewer=$5 vprinter=$6
if [ "$(id -u)" != 0 ]; then
  echo "skipped: cupsd must be started as root to run filters as lp"
  exit 77
fi

# The filter runs as lp, so everything it reaches lives in a root-owned,
# world-enterable directory outside the build tree.
work=$(mktemp -d /tmp/strobane-e2e.XXXXXX)
chmod 0755 "$work"
cupsd_pid=
vprinter_pid=
cleanup() {
  [ -z "$vprinter_pid" ] || kill "$vprinter_pid" 2>/dev/null || true
  if [ -n "$cupsd_pid" ]; then
    kill "$cupsd_pid" 2>/dev/null || true
    wait "$cupsd_pid" 2>/dev/null || true
  fi
  if [ -n "${KEEP_E2E:-}" ]; then
    echo "work directory kept: $work"
  else
    rm -rf "$work"
  fi
}
trap cleanup EXIT
trap 'exit 1' HUP INT TERM

job=
fail() {
  echo "FAIL: $*"
  if [ -n "$job" ]; then
    echo "--- cupsd's log of job $job, last lines:"
    grep -F "[Job $job]" "$work/log/error_log" | grep -v -E "argv|envp" | tail -n 40
  elif [ -f "$work/log/error_log" ]; then
    echo "--- cupsd's error log, last lines:"
    tail -n 40 "$work/log/error_log"
  fi
  exit 1
}

# Write the scheduler's configuration, its ServerBin and its directories.
set_up_cupsd() {
  mkdir -p "$work"/{etc,spool/tmp,cache,state,log,out,jobs,home}
  write_server_bin "$work" "$filter"

  port=$(free_port)
  write_cups_files_conf "$work" "ServerBin $work/serverbin" "FileDevice Yes"
  write_cupsd_conf "$work" "127.0.0.1:$port" "$work/cups.sock"
  # The request that job_state sends with ipptool.
  cat >"$work/job-state.test" <<'EOF'
{
  NAME "job state"
  OPERATION Get-Job-Attributes
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri job-uri $uri
  ATTR keyword requested-attributes job-state,job-printer-state-message
  STATUS successful-ok
  DISPLAY job-state
  DISPLAY job-printer-state-message
}
EOF
}

# Start the scheduler and wait until it answers on its socket and its port.
# cupsd runs in a mount namespace of its own, where /usr/share/ppd holds only the
# built PPDs, as a package installs them: lpinfo -m then names them as on a real
# system, and nothing outside the namespace changes.
start_cupsd() {
  [ -d /usr/share/ppd ] || fail "/usr/share/ppd is missing (cups-filters installs it)"
  mkdir -p "$work/ppd/strobane"
  install -m 0644 "$ppd" "$ppd300" "$work/ppd/strobane/"
  # shellcheck disable=SC2016
  unshare --mount --propagation private sh -c 'mount --bind "$1" /usr/share/ppd && shift && exec "$@"' \
    sh "$work/ppd" cupsd -f -c "$work/etc/cupsd.conf" -s "$work/etc/cups-files.conf" \
    >"$work/log/cupsd.out" 2>&1 &
  cupsd_pid=$!
  for _ in $(seq 100); do
    if lpstat -r 2>/dev/null | grep -q "is running"; then
      lpstat -h "127.0.0.1:$port" -r 2>/dev/null | grep -q "is running" ||
        fail "cupsd does not answer on port $port"
      return
    fi
    kill -0 "$cupsd_pid" 2>/dev/null || fail "cupsd exited: $(cat "$work/log/cupsd.out")"
    sleep 0.1
  done
  fail "cupsd did not become ready in 10 s"
}

# Print the state keyword of a job, e.g. completed or processing-stopped, or with
# FIELD 2 the last message its filters gave.
job_state() {
  ipptool -c "ipp://127.0.0.1:$port/jobs/$1" "$work/job-state.test" 2>/dev/null |
    sed -n 2p | cut -d, -f"${2:-1}"
}

# Add a queue printing with PPD into out/QUEUE.out.
add_queue() {
  local queue=$1 ppd=$2 output
  output=$(lpadmin -p "$queue" -E -v "file://$work/out/$queue.out" -P "$ppd" \
    -o printer-error-policy=abort-job 2>&1) || fail "lpadmin could not add $queue: $output"
  lpstat -p "$queue" >/dev/null 2>&1 || fail "the queue $queue was not added"
}

# Send FILE to QUEUE with the options that follow and wait until the job ends in
# the state WANT; a job that ends otherwise fails the test. Sets job to its id.
# Usage: run_job NAME WANT QUEUE FILE OPTION...
run_job() {
  local name=$1 want=$2 queue=$3 file=$4
  shift 4
  local reply state
  reply=$(lp -d "$queue" "$@" "$file") || fail "$name: lp refused the job"
  job=$(echo "$reply" | sed -n 's/^request id is [^ ]*-\([0-9]*\) .*/\1/p')
  [ -n "$job" ] || fail "$name: no job id in \"$reply\""
  for _ in $(seq 600); do
    state=$(job_state "$job")
    case $state in
    "$want") return ;;
    completed | processing-stopped | canceled | aborted) fail "$name: job $job is $state" ;;
    esac
    sleep 0.2
  done
  fail "$name: job $job did not end in 120 s (last state: ${state:-unknown})"
}

# Print FILE on QUEUE with the options that follow and keep the job's output in
# jobs/NAME.prn.
print_job() {
  local queue=$1 name=$2 file=$3
  shift 3
  run_job "$name" completed "$queue" "$file" "$@"
  cp "$work/out/$queue.out" "$work/jobs/$name.prn"
  echo "$name: job $job completed, $(wc -c <"$work/jobs/$name.prn") bytes"
  job=
}

# True when the LENGTH bytes of FILE at OFFSET are exactly TEXT.
bytes_are() {
  local file=$1 offset=$2 text=$3
  cmp -s -n "${#text}" -i "$offset:0" "$file" <(printf '%s' "$text")
}

# Print the byte of FILE at OFFSET as a decimal number.
byte_at() {
  od -An -v -tu1 -j "$2" -N1 "$1" | tr -d ' '
}

# Walk one job's stream: every block exactly as the filter writes it, the
# stream ending with the last block. Sets bitmaps[] to each image's offset.
# Usage: check_stream NAME PAGES X Y BYTES_PER_ROW ROWS COPIES, after setup_text.
check_stream() {
  local name=$1 pages=$2 x=$3 y=$4 bpr=$5 rows=$6 copies=$7
  local file="$work/jobs/$name.prn" offset=0 page head tail
  head="${setup}BITMAP $x,$y,$bpr,$rows,1,"
  tail=$'\r\n'"PRINT 1,$copies"$'\r\n'
  bitmaps=()
  for ((page = 1; page <= pages; page++)); do
    bytes_are "$file" "$offset" "$head" ||
      fail "$name: block $page does not begin with $(printf '%q' "$head")"
    offset=$((offset + ${#head}))
    bitmaps+=("$offset")
    offset=$((offset + bpr * rows))
    bytes_are "$file" "$offset" "$tail" ||
      fail "$name: block $page does not end with $(printf '%q' "$tail")"
    offset=$((offset + ${#tail}))
  done
  local size
  size=$(wc -c <"$file")
  [ "$size" -eq "$offset" ] || fail "$name: $size bytes where $pages blocks take $offset"
  echo "$name: $pages blocks as expected"
}

# Set setup to the commands that open every label, as the filter writes them. No
# job sets the media tracking or the speed, so they are the PPDs' defaults:
# MediaTracking 1 (labels with gaps) and PrintSpeed 40 (4 in/s).
# Usage: setup_text WIDTH_MM HEIGHT_MM DENSITY
setup_text() {
  printf -v setup 'SIZE %dmm,%dmm\r\nGAP 0.120,0.000\r\nSPEED 4\r\nDENSITY %d\r\nDIRECTION 0,0\r\nREFERENCE 0,0\r\nOFFSET 0.000\r\nSHIFT 0\r\nSET PEEL OFF\r\nSET CUTTER OFF\r\nSET PARTIAL_CUTTER OFF\r\nSET TEAR ON\r\nCLS\r\n' \
    "$1" "$2" "$3"
}

# Print, on one line, the number of dark (0) dots of the bitmap at OFFSET inside
# each BOX: X0,Y0,X1,Y1 (X1 and Y1 excluded), or X0,Y0,X1,Y1,SX,SY,OX,OY to count
# only the dots with x % SX = OX and y % SY = OY.
# Usage: dark_in_boxes NAME OFFSET BYTES_PER_ROW ROWS BOX...
dark_in_boxes() {
  local name=$1 offset=$2 bpr=$3 rows=$4
  shift 4
  od -An -v -tu1 -j "$offset" -N $((bpr * rows)) "$work/jobs/$name.prn" | awk -v bpr="$bpr" -v list="$*" '
    BEGIN {
      n = split(list, box, " ")
      for (j = 1; j <= n; j++) {
        m = split(box[j], v, ",")
        x0[j] = v[1] + 0; y0[j] = v[2] + 0; x1[j] = v[3] + 0; y1[j] = v[4] + 0
        sx[j] = m > 4 ? v[5] + 0 : 1; sy[j] = m > 4 ? v[6] + 0 : 1
        ox[j] = m > 4 ? v[7] + 0 : 0; oy[j] = m > 4 ? v[8] + 0 : 0
      }
    }
    {
      for (i = 1; i <= NF; i++) {
        byte = $i; at = k++
        if (byte == 255) continue
        y = int(at / bpr); first = (at % bpr) * 8
        for (bit = 7; bit >= 0; bit--) {
          if (byte % 2 == 0) {
            x = first + bit
            for (j = 1; j <= n; j++)
              if (x >= x0[j] && x < x1[j] && y >= y0[j] && y < y1[j] && x % sx[j] == ox[j] && y % sy[j] == oy[j])
                count[j]++
          }
          byte = int(byte / 2)
        }
      }
    }
    END { for (j = 1; j <= n; j++) printf "%d%s", count[j], j < n ? " " : "\n" }'
}

# Check the viewer's summary of each label, and draw the labels.
# Usage: check_view NAME DPI WARNINGS SUMMARY... (WARNINGS: its standard error,
# exactly; SUMMARY: one line per label, exactly as it prints them)
check_view() {
  local name=$1 dpi=$2 warnings=$3
  shift 3
  local summary expected
  summary=$("$viewer" --check --dpi "$dpi" "$work/jobs/$name.prn" 2>"$work/jobs/$name.warnings") ||
    fail "$name: the viewer finds the stream malformed"
  [ "$(cat "$work/jobs/$name.warnings")" = "$warnings" ] ||
    fail "$name: the viewer warns \"$(cat "$work/jobs/$name.warnings")\" where it should warn \"$warnings\""
  expected=$(printf '%s\n' "$@")
  [ "$summary" = "$expected" ] || fail "$name: the viewer reports
$summary
where the expected labels are
$expected"
  "$viewer" --dpi "$dpi" -o "$work/jobs/$name" "$work/jobs/$name.prn" >/dev/null 2>&1 ||
    fail "$name: the viewer could not draw the labels"
  echo "$name: the viewer agrees"
}

# Check the viewer's picture: the paper dot (X, Y) of label PAGE is black (want 0) or white (want 1).
check_picture_dot() {
  local name=$1 page=$2 x=$3 y=$4 want=$5
  local pgm="$work/jobs/$name-$page.pgm" header width value
  if ! pngtopam "$work/jobs/$name-$page.png" | pamdepth -quiet 255 | pamtopnm >"$pgm"; then
    fail "$name: $name-$page.png is not a readable PNG"
  fi
  # A binary PGM: "P5", width and height, maximum value, each followed by one newline.
  header=$(head -c 64 "$pgm" | head -n 3 | tr '\n' ' ')
  width=$(echo "$header" | cut -d' ' -f2)
  value=$(byte_at "$pgm" $((${#header} + y * width + x)))
  if { [ "$want" = 0 ] && [ "$value" -ge 128 ]; } || { [ "$want" = 1 ] && [ "$value" -lt 128 ]; }; then
    fail "$name: the viewer's picture of label $page has value $value at ($x,$y)"
  fi
}

# The viewer's resolution for a head sold as DPI: 203 dpi heads have 8 dots a millimetre.
viewer_dpi() {
  if [ "$1" = 203 ]; then echo 203.2; else echo "$1"; fi
}

# The viewer's paper side in dots: MM millimetres at the head's resolution, rounded.
paper_dots() {
  local mm=$1 milli_dpi=$(($2 * 1000))
  [ "$2" != 203 ] || milli_dpi=203200
  echo $(((mm * milli_dpi * 2 + 25400) / 50800))
}

export CUPS_SERVER="$work/cups.sock" HOME="$work/home"
set_up_cupsd
start_cupsd
add_queue label "$ppd"
add_queue label300 "$ppd300"

gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sOutputFile="$work/labels.pdf" "$data/labels.ps"
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sOutputFile="$work/badge.pdf" "$data/badge.ps"
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pnggray -r203 -sOutputFile="$work/badge.png" "$data/badge.ps"

# At DPI a 4 x 6 in page of labels.ps is 4 DPI x 6 DPI dots. Its 1 in squares
# are centred 1 in from the left and 1.5 in from the top on page 1, 3 in and 5 in
# on page 2, and its text lies in the top half inch. Every dot of a square but a
# 2-dot rim at its edges must be dark, and every dot outside the squares, their
# rims and the text band light. The PPDs place the image at 0,0.
# Usage: check_labels NAME DPI DENSITY COPIES OVERHANG (the summary's overhang text)
check_labels() {
  local name=$1 dpi=$2 density=$3 copies=$4 overhang=$5 page cx cy summary=()
  local bpr=$(((4 * dpi + 7) / 8)) rows=$((6 * dpi)) half=$((dpi / 2))
  local inner_area=$(((2 * half - 4) * (2 * half - 4))) inside rim text all
  setup_text 102 152 "$density"
  check_stream "$name" 2 0 0 "$bpr" "$rows" "$copies"
  for page in 1 2; do
    if [ "$page" = 1 ]; then cx=$dpi cy=$((dpi * 3 / 2)); else cx=$((3 * dpi)) cy=$((5 * dpi)); fi
    read -r inside rim text all <<<"$(dark_in_boxes "$name" "${bitmaps[page - 1]}" "$bpr" "$rows" \
      $((cx - half + 2)),$((cy - half + 2)),$((cx + half - 2)),$((cy + half - 2)) \
      $((cx - half - 2)),$((cy - half - 2)),$((cx + half + 2)),$((cy + half + 2)) \
      0,0,$((bpr * 8)),$half 0,0,$((bpr * 8)),$rows)"
    [ "$inside" -eq "$inner_area" ] ||
      fail "$name: page $page: $((inner_area - inside)) light dots inside the black square"
    [ "$text" -gt 0 ] || fail "$name: page $page: no dark dot where the text is"
    [ "$all" -eq $((rim + text)) ] ||
      fail "$name: page $page: $((all - rim - text)) dark dots where the source drew white"
    summary+=("label $page: 102x152 mm ($(paper_dots 102 "$dpi")x$(paper_dots 152 "$dpi") dots), gap 0.120,0.000, speed 4, density $density, bitmap $((bpr * 8))x$rows dots at 0,0, dark $all dots, copies $copies$overhang")
  done
  # A page rounded up to whole dots overhangs paper measured in whole millimetres by
  # a white margin, which is no cause for a warning.
  check_view "$name" "$(viewer_dpi "$dpi")" "" "${summary[@]}"
  check_picture_dot "$name" 1 "$dpi" $((dpi * 3 / 2)) 0
  check_picture_dot "$name" 2 "$dpi" $((dpi * 3 / 2)) 1
  check_picture_dot "$name" 2 $((3 * dpi)) $((5 * dpi)) 0
}

# At 203 dpi a 2 x 1 in page is 406 x 203 dots, 51 bytes a row. badge.ps is
# black in x 0-203, rows 0-101 and gray 191 in the rows below, which mode 0
# prints white and mode 2 (the ordered 8x8 dither) as the dots of odd x in even
# rows, where the matrix holds more than 47. Inside a 2-dot rim each area must be
# exactly that, and everything right of x 206 light.
# Usage: check_badge NAME X MODE OVERHANG WARNINGS (the summary's overhang text,
# the viewer's standard error)
check_badge() {
  local name=$1 x=$2 mode=$3 overhang=$4 warnings=$5 black gray pattern drawn all
  setup_text 51 25 8
  check_stream "$name" 1 "$x" 0 51 203 1
  read -r black gray pattern drawn all <<<"$(dark_in_boxes "$name" "${bitmaps[0]}" 51 203 \
    2,2,201,99 2,104,201,201 2,104,201,201,2,2,1,0 0,0,206,203 0,0,408,203)"
  [ "$black" -eq $((199 * 97)) ] ||
    fail "$name: $((199 * 97 - black)) light dots inside the black area"
  if [ "$mode" = 0 ]; then
    [ "$gray" -eq 0 ] || fail "$name: $gray dark dots in the gray area, which a threshold prints white"
  else
    # 99 odd columns from 3 to 199 in 49 even rows from 104 to 200.
    [ "$gray" -eq $((99 * 49)) ] && [ "$pattern" -eq "$gray" ] ||
      fail "$name: the gray area has $gray dark dots, $pattern of them at odd x in even rows, where the dither prints $((99 * 49)), all there"
  fi
  [ "$all" -eq "$drawn" ] || fail "$name: $((all - drawn)) dark dots right of the drawn areas"
  check_view "$name" 203.2 "$warnings" "label 1: 51x25 mm (408x200 dots), gap 0.120,0.000, speed 4, density 8, bitmap 408x203 dots at $x,0, dark $all dots, copies 1$overhang"
  check_picture_dot "$name" 1 $((x + 101)) 50 0
  check_picture_dot "$name" 1 $((x + 304)) 50 1
}

# Two pages in one job, three copies of each printed by the printer itself.
print_job label options "$work/labels.pdf" -o PageSize=4.00x6.00in -o Darkness=12 -o copies=3
check_labels options 203 12 3 ", overhang 2 dots at the bottom"

# An image, scaled by CUPS onto a 2 x 1 in label, dithered, moved 16 dots right.
print_job label image "$work/badge.png" -o PageSize=2.00x1.00in -o PrintMode=2 -o Horizontal=16
# The 25 mm label is 200 dots high: the 3 rows of the page beyond it are cut off,
# and in mode 2 they hold the gray area's dots.
check_badge image 16 2 ", overhang 16 dots on the right, 3 dots at the bottom" \
  "strobane-view: label 1: warning: 202 dark dots fall outside the label at the bottom"

# No options at all: every setting comes from the PPD's defaults (Darkness 8).
print_job label defaults "$work/labels.pdf"
check_labels defaults 203 8 1 ", overhang 2 dots at the bottom"

# The same job through a socket:// queue into the virtual printer: the pictures it prints
# are the viewer's of the bytes that the file queue received.
start_virtual_printer "$vprinter" "$work"
lpadmin -p socket -E -v "socket://127.0.0.1:$vport" -P "$ppd" || fail "lpadmin could not add socket"
run_job socket completed socket "$work/labels.pdf"
job=
for _ in $(seq 100); do
  grep -q "^label 2 " "$work/virtual.out" && break
  sleep 0.1
done
for n in 1 2; do
  cmp -s "$work/virtual/label-$n.png" "$work/jobs/defaults-$n.png" ||
    fail "socket: label $n is not the viewer's picture: $(cat "$work/virtual.out")"
done
grep -q "^malformed" "$work/virtual.out" && fail "socket: $(grep "^malformed" "$work/virtual.out")"
echo "socket: the virtual printer printed the viewer's two pictures"

# A custom size in points: 144 x 72 pt is the filter's 51 x 25 mm.
print_job label custom "$work/badge.pdf" -o PageSize=Custom.144x72
check_badge custom 0 0 ", overhang 3 dots at the bottom" ""

# The 300 dpi model: the same labels on a finer raster.
print_job label300 fine "$work/labels.pdf"
check_labels fine 300 8 1 ", overhang 5 dots at the bottom"

# A document sent as raster that is not: the filter's failure stops the job, and
# the job's state carries the filter's message.
printf 'not a raster stream\n' >"$work/not-raster.ras"
run_job not-raster processing-stopped label "$work/not-raster.ras" \
  -o document-format=application/vnd.cups-raster
message=$(job_state "$job" 2)
[ "$message" = "Unable to read raster data" ] ||
  fail "not-raster: job $job stopped with the message \"$message\""
echo "not-raster: job $job stopped with \"$message\""
job=

# The installed models as lpinfo -m lists them.
models=$(lpinfo -m | grep -i strobane | sort)
expected_models="lsb/usr/strobane/strb203.ppd Strobane Label 203dpi, 1.0
lsb/usr/strobane/strb300.ppd Strobane Label 300dpi, 1.0"
[ "$models" = "$expected_models" ] || fail "lpinfo -m lists
$models
where the models are
$expected_models"
echo "lpinfo -m lists both models"

echo "all jobs printed as expected"
