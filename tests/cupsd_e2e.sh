#!/bin/bash
# SPDX-License-Identifier: Apache-2.0
# Print real documents through a private cupsd into the strobane filter and
# check the label streams that come out, block by block and dot by dot.
# Usage: cupsd_e2e.sh FILTER PPD_203DPI PPD_300DPI DATA_DIR VIEWER
# Runs as root (cupsd then runs the filter as lp, as a real system does); exit
# status 77 means skipped. KEEP_E2E=1 keeps the work directory for inspection.
set -euo pipefail
export LC_ALL=C

filter=$1 ppd=$2 ppd300=$3 data=$4 viewer=$5
if [ "$(id -u)" != 0 ]; then
  echo "skipped: cupsd must be started as root to run filters as lp"
  exit 77
fi

# The filter runs as lp, so everything it reaches lives in a root-owned,
# world-enterable directory outside the build tree.
work=$(mktemp -d /tmp/strobane-e2e.XXXXXX)
chmod 0755 "$work"
cupsd_pid=
cleanup() {
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

# Set port to a TCP port that nothing listens on.
free_port() {
  for _ in $(seq 50); do
    port=$((20000 + RANDOM % 40000))
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
      return
    fi
  done
  fail "no free TCP port found"
}

# Write the scheduler's configuration, its ServerBin and its directories.
set_up_cupsd() {
  mkdir -p "$work"/{etc,spool/tmp,cache,state,log,out,jobs,home}
  mkdir -p "$work/serverbin/filter"
  local system_bin
  system_bin=$(cups-config --serverbin)
  for dir in backend daemon driver notifier; do
    ln -s "$system_bin/$dir" "$work/serverbin/$dir"
  done
  for program in "$system_bin"/filter/*; do
    [ "${program##*/}" = strobane ] || ln -s "$program" "$work/serverbin/filter/"
  done
  install -o root -g root -m 0755 "$filter" "$work/serverbin/filter/strobane"

  free_port
  cat >"$work/etc/cups-files.conf" <<EOF
ServerRoot $work/etc
RequestRoot $work/spool
TempDir $work/spool/tmp
CacheDir $work/cache
StateDir $work/state
ServerBin $work/serverbin
AccessLog $work/log/access_log
ErrorLog $work/log/error_log
PageLog $work/log/page_log
User lp
Group lp
SystemGroup root
FileDevice Yes
EOF
  cat >"$work/etc/cupsd.conf" <<EOF
LogLevel debug
Listen 127.0.0.1:$port
Listen $work/cups.sock
Browsing No
WebInterface No
<Policy default>
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
EOF
  # The request that job_state sends with ipptool.
  cat >"$work/job-state.test" <<'EOF'
{
  NAME "job state"
  OPERATION Get-Job-Attributes
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri job-uri $uri
  ATTR keyword requested-attributes job-state
  STATUS successful-ok
  DISPLAY job-state
}
EOF
}

# Start the scheduler and wait until it answers on its socket and its port.
start_cupsd() {
  cupsd -f -c "$work/etc/cupsd.conf" -s "$work/etc/cups-files.conf" >"$work/log/cupsd.out" 2>&1 &
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

# Print the state keyword of a job, e.g. completed or processing-stopped.
job_state() {
  ipptool -c "ipp://127.0.0.1:$port/jobs/$1" "$work/job-state.test" 2>/dev/null |
    sed -n 2p | cut -d, -f1
}

# Add a queue printing with PPD into out/QUEUE.out.
add_queue() {
  local queue=$1 ppd=$2
  lpadmin -p "$queue" -E -v "file://$work/out/$queue.out" -P "$ppd" \
    -o printer-error-policy=abort-job 2>&1 | grep -v "deprecated" || true
  lpstat -p "$queue" >/dev/null 2>&1 || fail "the queue $queue was not added"
}

# Print FILE on QUEUE with the options that follow, wait for the job to end
# and keep its output in jobs/NAME.prn.
print_job() {
  local queue=$1 name=$2 file=$3
  shift 3
  local reply state
  reply=$(lp -d "$queue" "$@" "$file") || fail "$name: lp refused the job"
  job=$(echo "$reply" | sed -n 's/^request id is [^ ]*-\([0-9]*\) .*/\1/p')
  [ -n "$job" ] || fail "$name: no job id in \"$reply\""
  for _ in $(seq 600); do
    state=$(job_state "$job")
    case $state in
    completed)
      cp "$work/out/$queue.out" "$work/jobs/$name.prn"
      echo "$name: job $job completed, $(wc -c <"$work/jobs/$name.prn") bytes"
      job=
      return
      ;;
    processing-stopped | canceled | aborted) fail "$name: job $job is $state" ;;
    esac
    sleep 0.2
  done
  fail "$name: job $job did not complete in 120 s (last state: ${state:-unknown})"
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

# Set setup to the commands that open every label, as the filter writes them.
setup_text() {
  local width=$1 height=$2 tracking=$3 speed=$4 density=$5 gap=""
  case $tracking in
  0) gap=$'GAP 0.000,0.000\r\n' ;;
  1 | 2) gap=$'GAP 0.120,0.000\r\n' ;;
  esac
  printf -v setup 'SIZE %dmm,%dmm\r\n%sSPEED %d\r\nDENSITY %d\r\nDIRECTION 0,0\r\nREFERENCE 0,0\r\nOFFSET 0.000\r\nSHIFT 0\r\nSET PEEL OFF\r\nSET CUTTER OFF\r\nSET PARTIAL_CUTTER OFF\r\nSET TEAR ON\r\nCLS\r\n' \
    "$width" "$height" "$gap" "$speed" "$density"
}

# Check that image dot (X, Y) of the bitmap at OFFSET is dark (want 0) or light (want 1).
# Usage: check_dot NAME PAGE OFFSET BYTES_PER_ROW X Y WANT
check_dot() {
  local name=$1 page=$2 offset=$3 bpr=$4 x=$5 y=$6 want=$7 byte
  byte=$(byte_at "$work/jobs/$name.prn" $((offset + y * bpr + x / 8)))
  if [ $(((byte >> (7 - x % 8)) & 1)) -ne "$want" ]; then
    fail "$name: page $page dot ($x,$y) is $([ "$want" = 0 ] && echo light || echo dark), the source drew it $([ "$want" = 0 ] && echo black || echo white)"
  fi
}

# Print the number of dark (0) dots in the bitmap at OFFSET.
dark_dots() {
  local name=$1 offset=$2 count=$3
  od -An -v -tu1 -j "$offset" -N "$count" "$work/jobs/$name.prn" | awk '
    BEGIN { for (b = 0; b < 256; b++) { n = 0; for (v = b; v; v = int(v / 2)) n += v % 2; ones[b] = n } }
    { for (i = 1; i <= NF; i++) dark += 8 - ones[$i] }
    END { print dark + 0 }'
}

# Check that a page's dark dots cover the black area the source drew, give or take its edges and text.
check_dark_count() {
  local name=$1 page=$2 dark=$3 area=$4
  if [ "$dark" -lt $((area * 95 / 100)) ] || [ "$dark" -gt $((area * 3 / 2)) ]; then
    fail "$name: page $page has $dark dark dots; its black area is about $area"
  fi
}

# The value of a PPD default, e.g. ppd_default Darkness.
ppd_default() {
  sed -n "s/^\*Default$1: *\([^ ]*\).*/\1/p" "$ppd" | tr -d '\r'
}

# Check the viewer's summary of each label, and draw the labels.
# Usage: check_view NAME DPI SUMMARY... (one line per label, exactly as it prints them)
check_view() {
  local name=$1 dpi=$2
  shift 2
  local summary expected
  # Its warnings that a bitmap overhangs paper measured in whole millimetres are expected.
  summary=$("$viewer" --check --dpi "$dpi" "$work/jobs/$name.prn" 2>/dev/null) ||
    fail "$name: the viewer finds the stream malformed"
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

[ "$(ppd_default PageSize)" = 4.00x6.00in ] || fail "the PPD's default size is not 4.00x6.00in"
darkness=$(ppd_default Darkness)
speed=$(($(ppd_default PrintSpeed) / 10))
tracking=$(ppd_default MediaTracking)
horizontal=$(ppd_default Horizontal)
vertical=$(ppd_default Vertical)
case $tracking in
0) gap_summary="gap 0.000,0.000" ;;
1 | 2) gap_summary="gap 0.120,0.000" ;;
*) gap_summary="gap none" ;;
esac

# At DPI a 4 x 6 in page of labels.ps is 4 DPI x 6 DPI dots; its 1 in squares
# are DPI dots wide, centred 1 in from the left and 1.5 in from the top on page
# 1, 3 in and 5 in on page 2.
# Usage: check_labels NAME DPI DENSITY COPIES
check_labels() {
  local name=$1 dpi=$2 density=$3 copies=$4 page dark summary=()
  local bpr=$(((4 * dpi + 7) / 8)) rows=$((6 * dpi))
  local x1=$dpi y1=$((dpi * 3 / 2)) x2=$((3 * dpi)) y2=$((5 * dpi))
  setup_text 102 152 "$tracking" "$speed" "$density"
  check_stream "$name" 2 "$horizontal" "$vertical" "$bpr" "$rows" "$copies"
  for page in 1 2; do
    dark=$(dark_dots "$name" "${bitmaps[page - 1]}" $((bpr * rows)))
    check_dark_count "$name" "$page" "$dark" $((dpi * dpi))
    summary+=("label $page: 102x152 mm ($(paper_dots 102 "$dpi")x$(paper_dots 152 "$dpi") dots), $gap_summary, speed $speed, density $density, bitmap $((bpr * 8))x$rows dots at $horizontal,$vertical, dark $dark dots, copies $copies")
  done
  check_dot "$name" 1 "${bitmaps[0]}" "$bpr" "$x1" "$y1" 0
  check_dot "$name" 1 "${bitmaps[0]}" "$bpr" "$x2" "$y2" 1
  check_dot "$name" 2 "${bitmaps[1]}" "$bpr" "$x2" "$y2" 0
  check_dot "$name" 2 "${bitmaps[1]}" "$bpr" "$x1" "$y1" 1
  check_view "$name" "$(viewer_dpi "$dpi")" "${summary[@]}"
  check_picture_dot "$name" 1 $((horizontal + x1)) $((vertical + y1)) 0
  check_picture_dot "$name" 2 $((horizontal + x1)) $((vertical + y1)) 1
}

# At 203 dpi a 2 x 1 in page is 406 x 203 dots, 51 bytes a row; badge.ps is
# black in its top-left quarter, 203 x 101 dots.
# Usage: check_badge NAME X
check_badge() {
  local name=$1 x=$2 dark
  setup_text 51 25 "$tracking" "$speed" "$darkness"
  check_stream "$name" 1 "$x" "$vertical" 51 203 1
  dark=$(dark_dots "$name" "${bitmaps[0]}" $((51 * 203)))
  check_dark_count "$name" 1 "$dark" $((203 * 101))
  check_dot "$name" 1 "${bitmaps[0]}" 51 101 50 0
  check_dot "$name" 1 "${bitmaps[0]}" 51 101 152 1
  check_dot "$name" 1 "${bitmaps[0]}" 51 304 50 1
  check_view "$name" 203.2 "label 1: 51x25 mm (408x200 dots), $gap_summary, speed $speed, density $darkness, bitmap 408x203 dots at $x,$vertical, dark $dark dots, copies 1"
  check_picture_dot "$name" 1 $((x + 101)) $((vertical + 50)) 0
  check_picture_dot "$name" 1 $((x + 304)) $((vertical + 50)) 1
}

# Two pages in one job, three copies of each printed by the printer itself.
print_job label options "$work/labels.pdf" -o PageSize=4.00x6.00in -o Darkness=12 -o copies=3
check_labels options 203 12 3

# An image, scaled by CUPS onto a 2 x 1 in label, dithered, moved 16 dots right.
print_job label image "$work/badge.png" -o PageSize=2.00x1.00in -o PrintMode=2 -o Horizontal=16
check_badge image 16

# No options at all: every setting comes from the PPD's defaults.
print_job label defaults "$work/labels.pdf"
check_labels defaults 203 "$darkness" 1

# A custom size in points: 144 x 72 pt is the filter's 51 x 25 mm.
print_job label custom "$work/badge.pdf" -o PageSize=Custom.144x72
check_badge custom "$horizontal"

# The 300 dpi model: the same labels on a finer raster.
print_job label300 fine "$work/labels.pdf"
check_labels fine 300 "$darkness" 1

echo "all jobs printed as expected"
