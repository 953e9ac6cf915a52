#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# Build the filter, the printer application and the viewer; print the sample shipping
# label to a file the way a queue with the 203 dpi PPD prints it, draw the label and read
# its barcodes off the picture; then print it through the printer application.
set -e
cd "$(dirname "$0")/.."
scripts/deps.sh --sample
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DSTROBANE_BUILD_TESTS=OFF >/dev/null
cmake --build build -j"$(nproc)"
mkdir -p out

# The label as the PDF that an application would print.
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sOutputFile=out/shipping-label.pdf \
  samples/shipping-label.ps

# CUPS's own pdftopdf and gstoraster render it to raster by the PPD, as a queue does,
# and our filter turns that into the label command stream.
filters=$(cups-config --serverbin)/filter
options="PageSize=4.00x6.00in"
export PPD=build/driver/ppd/strb203.ppd CONTENT_TYPE=application/pdf \
  FINAL_CONTENT_TYPE=application/vnd.cups-raster
"$filters/pdftopdf" 1 "$(id -un)" shipping-label 1 "$options" out/shipping-label.pdf \
  > out/shipping-label-pages.pdf 2> out/shipping-label.log
"$filters/gstoraster" 1 "$(id -un)" shipping-label 1 "$options" out/shipping-label-pages.pdf \
  > out/shipping-label.ras 2>> out/shipping-label.log
build/strobane 1 "$(id -un)" shipping-label 1 "$options" out/shipping-label.ras \
  > out/shipping-label.prn 2>> out/shipping-label.log
echo "label command stream: $(pwd)/out/shipping-label.prn ($(wc -c < out/shipping-label.prn) bytes)"
build/strobane-view -o out/shipping-label out/shipping-label.prn
echo "label picture: $(pwd)/out/shipping-label-1.png"

# A scanner's reading of the picture: the tracking number and the SSCC.
zbarimg -q --nodbus out/shipping-label-1.png

# The same label through the printer application, as an IPP client prints it: the PDF,
# which the application, started on 127.0.0.1 with a printer whose device is a file and
# the PPDs just built, renders as the queue did and turns into labels. It runs under a name of its own, so that
# an installed service's socket and state stay untouched, as root, whose group administers
# it: a system without CUPS has no lpadmin group.
port=${STROBANE_SAMPLE_PORT:-18632}
mkdir -p out/app
ln -sf "$(pwd)/build/app/strobane-printer-app" out/app/strobane-sample
: > out/app-label.prn
STROBANE_PPD_DIR=$(pwd)/build/driver/ppd out/app/strobane-sample server -o server-port="$port" -o server-options=no-tls -o user=root \
  -o admin-group=root \
  -o device-directory="$(pwd)/out" -o spool-directory="$(pwd)/out/app/spool" -o state-file="$(pwd)/out/app/state" \
  -o log-file="$(pwd)/out/app/log" &
app=$!
trap 'kill $app 2>/dev/null' EXIT
sleep 1
kill -0 "$app" 2>/dev/null || { echo "the printer application did not start (port $port taken?)"; exit 1; }
out/app/strobane-sample add -d label -m strb203 -v "file://$(pwd)/out/app-label.prn" 2>/dev/null ||
  true
job=$(out/app/strobane-sample submit -d label -o media=na_index-4x6_4x6in out/shipping-label.pdf)
echo "submitted to the printer application as job $job"
for _ in $(seq 100); do
  build/strobane-view --check out/app-label.prn 2>/dev/null | grep -q "^label 1" && break
  sleep 0.2
done
build/strobane-view -o out/app-label out/app-label.prn
echo "printer application's label: $(pwd)/out/app-label.prn, picture $(pwd)/out/app-label-1.png"
if cmp -s out/app-label.prn out/shipping-label.prn; then
  echo "the printer application sent the same bytes as the filter"
fi
