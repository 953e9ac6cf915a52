#!/bin/bash
# SPDX-License-Identifier: Apache-2.0
# PDF through the printer application: labels per second for the sample label and for a
# three-page PDF of 4 x 6 in labels, JOBS jobs of each one after the other, the server's
# peak memory after them, and the peak memory of each program that renders a PDF, run as
# the application runs it. A benchmark, run by hand (docs/performance.md).
#
#   bench/pdf_bench.sh [BUILD_DIR [JOBS]]   (defaults: build-bench, 20)
set -euo pipefail
# shellcheck source=tests/local_server.sh
. "$(dirname "$0")/../tests/local_server.sh"
export LC_ALL=C
cd "$(dirname "$0")/.."
build=${1:-build-bench}
jobs=${2:-20}

scripts/deps.sh --bench
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target strobane-printer-app strobane-view strobane_ppds >/dev/null
export STROBANE_PPD_DIR=$PWD/$build/driver/ppd

work=$(mktemp -d /tmp/strobane-pdf-bench.XXXXXX)
chmod 0755 "$work"
name="strobane-pdf-bench-$$"
ln -s "$(readlink -f "$build/app/strobane-printer-app")" "$work/$name"
app_pid=
trap '[ -z "$app_pid" ] || { kill "$app_pid"; wait "$app_pid"; } 2>/dev/null; rm -rf "$work"' EXIT
trap 'exit 1' HUP INT TERM

gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sOutputFile="$work/sample.pdf" \
  samples/shipping-label.ps
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sOutputFile="$work/three.pdf" \
  samples/shipping-label.ps samples/shipping-label.ps samples/shipping-label.ps

start_printer_app "$work/$name" "$work" -o server-options=no-tls
: >"$work/out.prn"
"$work/$name" add -d bench -m strb203 -v "file://$work/out.prn"
uri="ipp://127.0.0.1:$port/ipp/print/bench"
cat >"$work/print-one.test" <<'EOF'
{
  NAME "print"
  OPERATION Print-Job
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri $uri
  ATTR name requesting-user-name bench
  ATTR mimeMediaType document-format application/pdf
  FILE $filename
  STATUS successful-ok
  DISPLAY job-id
}
EOF
wait_test 0.01 100000 >"$work/wait.test"
for _ in $(seq "$jobs"); do cat "$work/print-one.test"; done >"$work/print.test"

echo "== $jobs jobs of each PDF, one after the other, to file://"
for pdf in sample three; do
  : >"$work/out.prn"
  start=$(date +%s.%N)
  last=$(ipptool -t -f "$work/$pdf.pdf" "$uri" "$work/print.test" |
    sed -n 's/^ *job-id (integer) = //p' | tail -n 1)
  ipptool -t -d job="$last" "$uri" "$work/wait.test" | grep -q "job-state (enum) = completed" ||
    { echo "job $last did not complete"; exit 1; }
  end=$(date +%s.%N)
  labels=$("$build/strobane-view" --check "$work/out.prn" 2>/dev/null | grep -c '^label ')
  awk -v l="$labels" -v s="$start" -v e="$end" -v p="$pdf" \
    'BEGIN { printf "%s.pdf: %d labels in %.2f s, %.2f labels per second\n", p, l, e - s, l / (e - s) }'
done
awk '/^VmHWM:/ { printf "server peak RSS: %.1f MiB\n", $2 / 1024 }' "/proc/$app_pid/status"

echo "== peak RSS of each renderer program on the three-page PDF, as the application runs it"
cp "$STROBANE_PPD_DIR/strb203.ppd" "$work/model.ppd"
options="media=na_index-4x6_4x6in print-scaling=auto"
export PPD=$work/model.ppd CONTENT_TYPE=application/pdf TMPDIR=$work
export FINAL_CONTENT_TYPE=application/vnd.cups-raster CUPS_SERVERBIN=/usr/lib/cups
/usr/bin/time -f "pdfinfo: %M KiB" pdfinfo -f 1 -l 100 - <"$work/three.pdf" >/dev/null
/usr/bin/time -f "pdftopdf: %M KiB" /usr/lib/cups/filter/pdftopdf 1 u t 1 "$options" \
  "$work/three.pdf" 2>&1 >"$work/three.out.pdf" | grep KiB
/usr/bin/time -f "gstoraster with gs: %M KiB" /usr/lib/cups/filter/gstoraster 1 u t 1 \
  "$options" <"$work/three.out.pdf" 2>&1 >/dev/null | grep KiB
