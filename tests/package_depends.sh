#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# Check a built Debian package's relations: it depends on the packages that hold every
# shared library its programs load (libcups2, libpng16-16, the C and C++ runtimes), on
# cups-filters, and on ghostscript and poppler-utils, whose programs render PDF for the
# printer application; it recommends cups and avahi-daemon. PAPPL is built in: no
# program loads libpappl, and Built-Using names the source package pinned in
# pappl/release.
# Usage: package_depends.sh PACKAGE.deb
set -eu
deb=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
  echo "FAIL: $*"
  exit 1
}

depends=$(dpkg-deb -f "$deb" Depends)
recommends=$(dpkg-deb -f "$deb" Recommends)
built_using=$(dpkg-deb -f "$deb" Built-Using)
echo "depends: $depends"
echo "recommends: $recommends"
echo "built-using: $built_using"

# True when the relation field lists the package, with or without a version.
lists() {
  echo ", $1," | grep -q ", $2[ ,]"
}

for package in libcups2 libpng16-16 libstdc++6 cups-filters ghostscript poppler-utils; do
  lists "$depends" "$package" || fail "the package does not depend on $package"
done
for package in cups avahi-daemon; do
  lists "$recommends" "$package" || fail "the package does not recommend $package"
done
# The printer application carries the PAPPL it was built with, so no other version
# can be installed under it; the archive keeps that version's source for the package.
# shellcheck source=pappl/release
. "$(dirname "$0")/../pappl/release"
[ "$built_using" = "pappl (= $PAPPL_DEBIAN_VERSION)" ] ||
  fail "Built-Using is \"$built_using\", not the pinned pappl (= $PAPPL_DEBIAN_VERSION)"
! echo "$depends" | grep -q libpappl || fail "the package depends on libpappl"

# Every library a packaged program needs comes from a package it depends on (the
# native one: cross toolchains hold libraries of the same name).
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
dpkg-deb -x "$deb" "$work/root"
find "$work/root" -type f -perm -u+x | sort >"$work/programs"
while read -r program; do
  objdump -p "$program" | awk '$1 == "NEEDED" { print $2 }' >"$work/needed"
  [ -s "$work/needed" ] || fail "${program#"$work/root"} needs no shared library"
  while read -r soname; do
    case $soname in
    libpappl.so*) fail "${program#"$work/root"} loads $soname, not the PAPPL built into it" ;;
    esac
    owner=$(dpkg -S "*/$soname" 2>/dev/null | grep "/$multiarch/$soname\$" | head -n 1 | cut -d: -f1)
    [ -n "$owner" ] || fail "no installed package holds $soname, which ${program#"$work/root"} needs"
    lists "$depends" "$owner" ||
      fail "${program#"$work/root"} needs $soname from $owner, which the package does not depend on"
  done <"$work/needed"
done <"$work/programs"
echo "the package depends on what its programs load"
