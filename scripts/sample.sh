#!/bin/sh
# Build the filter and print a sample label job to a file, as CUPS would run it.
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
