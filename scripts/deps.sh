#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# Install what the build, the tests and the tools use (Debian 12). Run as root.
set -e
export DEBIAN_FRONTEND=noninteractive
# PAPPL is built with the project (pappl/): patch applies our patches to it, and its
# configure looks for these libraries as Debian builds it; PAM also checks the passwords
# of the printer application's accounts.
packages="g++ make cmake pkgconf libcups2-dev cups-ppdc libgtest-dev libpng-dev libbenchmark-dev libpam0g-dev"
packages="$packages patch libavahi-client-dev libgnutls28-dev libjpeg-dev libusb-1.0-0-dev zlib1g-dev"
if [ "$1" = "--test" ]; then
  packages="$packages cups-daemon cups-client cups-filters cups-ppdc cups-ipp-utils ghostscript poppler-utils locales time"
fi
# netpbm, whose pngtopam reads the viewer's pictures in the print test; what builds and
# checks the Debian package (build-essential for dpkg-buildpackage, debhelper, lintian,
# the printer application's build dependencies) and debootstrap, which makes the fresh
# Debian 12 that it is installed on; zbarimg, which reads the sample label's barcodes.
if [ "$1" = "--test" ]; then
  packages="$packages netpbm build-essential debhelper lintian debootstrap zbar-tools"
fi
# The full cups package, whose rastertopwg lets a driverless queue send a PDF to the
# printer application; python3, which draws the gray test picture and plays a slow
# printer; curl, which asks the web interface for pages from the network; Chromium with a
# font, which shows the printer application's web pages in the web test.
if [ "$1" = "--test" ]; then
  packages="$packages cups python3 curl chromium fonts-dejavu-core"
fi
# For the printer application's access test: iproute2 for its network namespace,
# systemd for systemd-analyze's rating of the unit, passwd for its accounts.
if [ "$1" = "--test" ]; then
  packages="$packages iproute2 systemd passwd"
fi
# CUPS's own filters, with ghostscript and poppler-utils, to print the sample label as a
# queue and the printer application do, and zbarimg to read its barcodes.
if [ "$1" = "--sample" ]; then
  packages="$packages cups-filters ghostscript poppler-utils zbar-tools"
fi
# ipptool, GNU time and netpbm (the soak's PNG and JPEG labels), and what renders PDF, for
# the benchmark scripts in bench/.
if [ "$1" = "--bench" ]; then
  packages="$packages cups-ipp-utils time netpbm cups-filters ghostscript poppler-utils"
fi
# The cross compiler, the emulator and GoogleTest's sources that scripts/arm_check.sh uses.
if [ "$1" = "--arm" ]; then
  packages="$packages g++-aarch64-linux-gnu qemu-user googletest"
fi
# clang with libFuzzer and the sanitizer runtimes, for scripts/fuzz.sh (which the tests run),
# and llvm-symbolizer, without which the leak suppressions cannot match function names.
if [ "$1" = "--test" ] || [ "$1" = "--fuzz" ]; then
  packages="$packages clang libfuzzer-14-dev libclang-rt-14-dev llvm-14"
fi
missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends $missing
fi

# PAPPL's original tarball from Debian's source package of the release pinned in
# pappl/release, into downloads/ where the build looks for it. apt reads a private
# copy of the system's sources as deb-src entries with lists of its own, so the
# system's configuration and lists stay as they are; only the tarball is fetched,
# checked against the pinned SHA-256.
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=pappl/release
. "$root/pappl/release"
tarball=pappl_$PAPPL_VERSION.orig.tar.gz
if ! echo "$PAPPL_SHA256  $root/downloads/$tarball" | sha256sum -c --status 2>/dev/null; then
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  chmod 0755 "$work"
  mkdir -p "$work/parts" "$work/lists/partial" "$work/download"
  sourcelist=/etc/apt/sources.list sourceparts=/etc/apt/sources.list.d/
  eval "$(apt-config shell sourcelist Dir::Etc::sourcelist/f sourceparts Dir::Etc::sourceparts/d)"
  for list in "$sourcelist" "$sourceparts"*.list; do
    if [ -f "$list" ]; then
      sed -n 's/^[[:space:]]*deb[[:space:]]/deb-src /p' "$list"
    fi
  done >"$work/sources.list"
  for sources in "$sourceparts"*.sources; do
    if [ -f "$sources" ]; then
      sed 's/^Types:.*/Types: deb-src/I' "$sources" >"$work/parts/${sources##*/}"
    fi
  done
  # apt's own downloader, which runs as _apt, writes there.
  chown _apt "$work/download" 2>/dev/null || true
  private_apt() {
    "$@" -q -o Dir::Etc::sourcelist="$work/sources.list" -o Dir::Etc::sourceparts="$work/parts" \
      -o Dir::State::Lists="$work/lists" -o Dir::Cache::pkgcache= -o Dir::Cache::srcpkgcache= \
      -o APT::Update::Post-Invoke::= -o APT::Update::Post-Invoke-Success::=
  }
  private_apt apt-get update >"$work/update.log" 2>&1 || { cat "$work/update.log"; exit 1; }
  # The pinned Debian version first, then any other of the same release: all of them
  # ship the same original tarball.
  versions=$(private_apt apt-cache showsrc pappl 2>/dev/null |
    awk -v release="$PAPPL_VERSION" '$1 == "Version:" && index($2, release "-") == 1 { print $2 }')
  uri=
  for version in "$PAPPL_DEBIAN_VERSION" $versions; do
    uri=$(private_apt apt-get source --print-uris --only-source "pappl=$version" 2>/dev/null |
      awk -v file="$tarball" '$2 == file { gsub("\047", "", $1); print $1 }')
    [ -z "$uri" ] || break
  done
  if [ -z "$uri" ]; then
    echo "deps.sh: the system's sources have no PAPPL $PAPPL_VERSION source package: put $tarball" \
      "(SHA-256 $PAPPL_SHA256) in $root/downloads/, or give cmake -DSTROBANE_PAPPL_TARBALL=FILE" >&2
    exit 1
  fi
  if [ "$version" != "$PAPPL_DEBIAN_VERSION" ]; then
    echo "deps.sh: PAPPL's tarball comes from pappl $version; pappl/release names" \
      "$PAPPL_DEBIAN_VERSION, which the package's Built-Using repeats" >&2
  fi
  /usr/lib/apt/apt-helper download-file "$uri" "$work/download/$tarball" "SHA256:$PAPPL_SHA256"
  # The checkout's owner owns what is put in it, as a build by that user expects.
  mkdir -p "$root/downloads"
  mv "$work/download/$tarball" "$root/downloads/$tarball"
  chown "$(stat -c %u:%g "$root")" "$root/downloads" "$root/downloads/$tarball"
fi

# A decimal-comma locale, so the tests can show that the filter's number reading ignores it.
if [ "$1" = "--test" ] && ! locale -a 2>/dev/null | grep -qi '^de_DE.utf8$'; then
  sed -i 's/^# *de_DE.UTF-8 UTF-8/de_DE.UTF-8 UTF-8/' /etc/locale.gen
  locale-gen >/dev/null
fi
