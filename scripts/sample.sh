#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# Build the filter and its viewer, print a sample label job to a file as CUPS would run
# the filter, and draw the label; then print a PDF through CUPS's own filters the same way.
set -e
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DSTROBANE_BUILD_TESTS=OFF >/dev/null
cmake --build build -j"$(nproc)"
mkdir -p out
build/sample-raster out/sample.ras 1 812 1218 2
build/strobane 1 "$(id -un)" sample 1 "PageSize=4.00x6.00in Darkness=10 PrintMode=2" \
  < out/sample.ras > out/sample.prn
echo "label command stream: $(pwd)/out/sample.prn ($(wc -c < out/sample.prn) bytes)"
build/strobane-view -o out/sample out/sample.prn
echo "label picture: $(pwd)/out/sample-1.png"

# A PDF printed the way a queue with our PPD prints it: CUPS's pdftopdf and
# gstoraster render it to raster by the PPD, our filter turns that into labels.
scripts/deps.sh --sample
filters=$(cups-config --serverbin)/filter
options="PageSize=4.00x6.00in Darkness=10"
export PPD=build/driver/ppd/strb203.ppd CONTENT_TYPE=application/pdf \
  FINAL_CONTENT_TYPE=application/vnd.cups-raster
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sOutputFile=out/pdf-sample.pdf tests/data/labels.ps
"$filters/pdftopdf" 2 "$(id -un)" pdf-sample 2 "$options" out/pdf-sample.pdf \
  > out/pdf-sample-pages.pdf 2> out/pdf-sample.log
"$filters/gstoraster" 2 "$(id -un)" pdf-sample 2 "$options" out/pdf-sample-pages.pdf \
  > out/pdf-sample.ras 2>> out/pdf-sample.log
build/strobane 2 "$(id -un)" pdf-sample 2 "$options" out/pdf-sample.ras > out/pdf-sample.prn
echo "PDF label command stream: $(pwd)/out/pdf-sample.prn ($(wc -c < out/pdf-sample.prn) bytes)"
build/strobane-view -o out/pdf-sample out/pdf-sample.prn
echo "PDF label pictures: $(pwd)/out/pdf-sample-1.png, $(pwd)/out/pdf-sample-2.png"
