#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# The printer application carries the PAPPL it was built with: it names no libpappl among
# the libraries it needs, none is loaded when it runs, and with a libpappl.so.1 that is
# not PAPPL first on the library path it still lists its drivers.
# Usage: pappl_static.sh APP IMPOSTOR_DIR
set -eu
app=$1 impostor=$2
failed=0
fail() {
  echo "FAIL: $*"
  failed=1
}
[ -f "$impostor/libpappl.so.1" ] || fail "no stand-in library at $impostor/libpappl.so.1"
if readelf -dW "$app" | grep -q 'NEEDED.*libpappl'; then
  fail "it needs a shared libpappl: $(readelf -dW "$app" | grep 'NEEDED.*libpappl')"
fi
out=$(LD_LIBRARY_PATH="$impostor" LD_DEBUG=libs "$app" drivers 2>&1) ||
  fail "it did not run beside another libpappl.so.1: $out"
echo "$out" | grep -q 'strb203' || fail "it listed no drivers: $out"
if echo "$out" | grep -q 'calling init: .*libpappl'; then
  fail "it loaded a libpappl: $(echo "$out" | grep 'calling init: .*libpappl')"
fi
[ "$failed" = 0 ] && echo "the application runs on its own PAPPL, whatever libpappl the system has"
