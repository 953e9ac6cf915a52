#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# Install what the build, the tests and the tools use (Debian 12). Run as root.
set -e
export DEBIAN_FRONTEND=noninteractive
# PAPPL builds the printer application; PAM checks the passwords of its accounts.
packages="g++ make cmake pkgconf libcups2-dev cups-ppdc libgtest-dev libpng-dev libbenchmark-dev libpappl-dev libpam0g-dev"
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
# A decimal-comma locale, so the tests can show that the filter's number reading ignores it.
if [ "$1" = "--test" ] && ! locale -a 2>/dev/null | grep -qi '^de_DE.utf8$'; then
  sed -i 's/^# *de_DE.UTF-8 UTF-8/de_DE.UTF-8 UTF-8/' /etc/locale.gen
  locale-gen >/dev/null
fi
