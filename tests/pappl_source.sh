#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# PAPPL's source as the build makes it: the pinned tarball with every patch of the series
# applied; a tarball with another checksum, and a patch that does not apply cleanly,
# stop it with their names and leave no source to build.
# Usage: pappl_source.sh SOURCE_CMAKE TARBALL SHA256 SERIES
set -eu
script=$1 tarball=$2 sha=$3 series=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
fail() {
  echo "FAIL: $*"
  failed=1
}
unpack() {
  cmake -DTARBALL="$1" -DSHA256="$sha" -DSERIES="$2" -DSOURCE_DIR="$work/pappl-1.3.1" \
    -DPATCH="$(command -v patch)" -P "$script" >"$work/out" 2>&1
}

patches=$(grep -v '^#' "$series" | grep -c .)
unpack "$tarball" "$series" || fail "the pinned tarball did not unpack: $(cat "$work/out")"
grep -q "patches applied: $patches)" "$work/out" || fail "not all $patches patches applied: $(cat "$work/out")"
[ -x "$work/pappl-1.3.1/configure" ] || fail "no source to build"
rm -rf "$work/pappl-1.3.1"

# One byte changed near the end of the tarball.
cp "$tarball" "$work/other.tar.gz"
size=$(stat -c %s "$work/other.tar.gz")
printf 'X' | dd of="$work/other.tar.gz" bs=1 seek=$((size - 16)) conv=notrunc 2>/dev/null
if unpack "$work/other.tar.gz" "$series"; then
  fail "a tarball with another checksum was taken"
fi
grep -q "has the SHA-256" "$work/out" && grep -q "$sha" "$work/out" ||
  fail "the refusal does not give both checksums: $(cat "$work/out")"

# The series' first patch twice: the second finds its change made already.
first=$(grep -v '^#' "$series" | head -n 1)
cp "$(dirname "$series")"/*.patch "$work/"
printf '%s\n%s\n' "$first" "$first" >"$work/series"
if unpack "$tarball" "$work/series"; then
  fail "a patch that does not apply was taken"
fi
grep -q "$first" "$work/out" && grep -q "does not apply" "$work/out" ||
  fail "the refusal does not name the patch: $(cat "$work/out")"
[ ! -e "$work/pappl-1.3.1" ] || fail "a half-patched source was left to build"

[ "$failed" = 0 ] && echo "PAPPL's source: the pinned tarball with its $patches patches, and nothing else"
