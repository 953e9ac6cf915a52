#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# The printer application runs only on the PAPPL its shims fit. Every function it defines
# in PAPPL's place is exported by the executable and called by libpappl through the
# dynamic linker; and the start-up check refuses, naming the symbol and the version, a
# build of the application that does not export one of them, a library with a later
# PAPPL's name, and a libpappl that binds its own calls (-Bsymbolic).
# Usage: pappl_internals.sh APP APP_WITHOUT_ONE_EXPORT LATER_LIBRARY NAME...
set -eu
app=$1 unexported=$2 later=$3
shift 3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The sanitized build's runtime need not come first when a library is preloaded.
export ASAN_OPTIONS="verify_asan_link_order=0${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
failed=0
fail() {
  echo "FAIL: $*"
  failed=1
}

libpappl=$(ldd "$app" | awk '$1 ~ /^libpappl\.so/ { print $3 }')
[ -f "$libpappl" ] || { echo "FAIL: $app loads no libpappl"; exit 1; }
nm -D --defined-only "$app" | awk '{ print $3 }' >"$work/exported"
readelf -rW "$libpappl" | awk '{ print $5 }' >"$work/relocated"
for name in "$@"; do
  grep -qx "$name" "$work/exported" || fail "the application does not export $name"
  grep -qx "$name" "$work/relocated" || fail "libpappl does not call $name through the dynamic linker"
done

# Run the program's "drivers" sub-command in the given environment; it must refuse with
# the given words in its message, or print the drivers when there are none.
expect() {
  program=$1 words=$2
  shift 2
  if env "$@" "$program" drivers >"$work/out" 2>&1; then
    [ -z "$words" ] || fail "$program ran with $*: $(cat "$work/out")"
    grep -q "^strb203 " "$work/out" || fail "no drivers listed: $(cat "$work/out")"
    return
  fi
  [ -n "$words" ] || fail "it refused to run on the system's PAPPL: $(cat "$work/out")"
  grep -q "Refusing to run on this PAPPL: .*$words.*(PAPPL 1\.3\.1 found at " "$work/out" ||
    fail "with $*, the message does not name '$words' and the version: $(cat "$work/out")"
}
expect "$app" ""
expect "$unexported" "papplClientIsAuthorized resolves to another definition"
expect "$app" "libpappl has _papplPrinterCheckJobsNoLock" LD_PRELOAD="$later"

# A copy of libpappl marked DF_SYMBOLIC, as a build with -Bsymbolic is.
mkdir "$work/lib"
python3 - "$libpappl" "$work/lib/$(basename "$libpappl")" <<'PY'
import struct, sys
data = bytearray(open(sys.argv[1], 'rb').read())
assert data[:4] == b'\x7fELF' and data[4] == 2 and data[5] == 1, 'a 64-bit little-endian ELF'
phoff, = struct.unpack_from('<Q', data, 0x20)
phentsize, phnum = struct.unpack_from('<HH', data, 0x36)
for i in range(phnum):
    p_type, _, p_offset, _, _, p_filesz = struct.unpack_from('<IIQQQQ', data, phoff + i * phentsize)
    if p_type != 2:
        continue
    for at in range(p_offset, p_offset + p_filesz, 16):
        tag, value = struct.unpack_from('<qQ', data, at)
        if tag == 30:  # DT_FLAGS
            struct.pack_into('<qQ', data, at, tag, value | 2)  # DF_SYMBOLIC
            open(sys.argv[2], 'wb').write(data)
            sys.exit(0)
sys.exit('no DT_FLAGS entry')
PY
expect "$app" "binds its own functions (-Bsymbolic)" LD_LIBRARY_PATH="$work/lib"

[ "$failed" = 0 ] && echo "the application runs on PAPPL 1.3.1 and refuses the others"
exit "$failed"
