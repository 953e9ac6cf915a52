#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# Build the filter and its viewer, print the sample shipping label to a file the way a
# queue with the 203 dpi PPD prints it, draw the label and read its barcodes off the picture.
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
