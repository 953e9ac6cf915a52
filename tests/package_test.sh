#!/bin/bash
# SPDX-License-Identifier: Apache-2.0
# Build the Debian package from a copy of the source with dpkg-buildpackage, have
# lintian check it, and check what it installs and what it depends on. The package
# is left in BUILD_DIR/package for fresh_install_test.sh. PAPPL_TARBALL, the build
# folder's PAPPL tarball, goes where the package's build looks for it.
# Usage: package_test.sh SOURCE_DIR BUILD_DIR [PAPPL_TARBALL]
set -euo pipefail
export LC_ALL=C

source=$(realpath "$1")
build=$(realpath "$2")
work=$build/package

fail() {
  echo "FAIL: $*"
  exit 1
}

# The source as a release would have it: no build folders, outputs or history.
rm -rf "$work"
mkdir -p "$work/src"
tar -C "$source" -c --exclude=./.git --exclude='./build*' --exclude=./out \
  --exclude="./${build#"$source"/}" . | tar -C "$work/src" -x
if [ -n "${3:-}" ]; then
  # shellcheck source=pappl/release
  . "$source/pappl/release"
  mkdir -p "$work/src/downloads"
  cp "$3" "$work/src/downloads/pappl_$PAPPL_VERSION.orig.tar.gz"
fi
start=$SECONDS
(cd "$work/src" && DEB_BUILD_OPTIONS="parallel=$(nproc)" dpkg-buildpackage -us -uc -b) \
  >"$work/build.log" 2>&1 || { tail -n 40 "$work/build.log"; fail "dpkg-buildpackage failed"; }
deb=$(ls "$work"/strobane_*.deb)
echo "built $(basename "$deb") in $((SECONDS - start)) s"

# Errors, warnings and informational tags all fail.
status=0
lintian --fail-on error,warning,info --display-info "$work"/strobane_*.changes \
  >"$work/lintian.log" 2>&1 || status=$?
grep -v "running with root privileges" "$work/lintian.log" || true
[ "$status" -eq 0 ] || fail "lintian reports the tags above"
echo "lintian: no error, warning or informational tag"

"$(dirname "$0")/package_depends.sh" "$deb" || exit 1

# The filter goes where cupsd looks for it, owned by root and writable by no one else.
filter_dir=$(cups-config --serverbin)/filter
contents=$(dpkg-deb -c "$deb")
for entry in "-rwxr-xr-x root/root .* \.$filter_dir/strobane" \
  "-rwxr-xr-x root/root .* \./usr/bin/strobane-view" \
  "-rwxr-xr-x root/root .* \./usr/bin/strobane-virtual-printer" \
  "-rw-r--r-- root/root .* \./usr/share/ppd/strobane/strb203\.ppd" \
  "-rw-r--r-- root/root .* \./usr/share/ppd/strobane/strb300\.ppd" \
  "-rw-r--r-- root/root .* \./usr/share/man/man1/strobane-view\.1\.gz" \
  "-rw-r--r-- root/root .* \./usr/share/man/man1/strobane-virtual-printer\.1\.gz" \
  "-rw-r--r-- root/root .* \./usr/share/doc/strobane/copyright" \
  "-rwxr-xr-x root/root .* \./usr/sbin/strobane-printer-app" \
  "-rw-r--r-- root/root .* \./lib/systemd/system/strobane-printer-app\.service" \
  "-rw-r--r-- root/root .* \./usr/lib/tmpfiles\.d/strobane-printer-app\.conf"; do
  grep -q -- "^$entry\$" <<<"$contents" || fail "no entry matching \"$entry\" in
$contents"
done

# The packaged PPDs are the ones the tests check, and the stripped filter still runs.
dpkg-deb -x "$deb" "$work/root"
for ppd in strb203.ppd strb300.ppd; do
  cmp "$build/driver/ppd/$ppd" "$work/root/usr/share/ppd/strobane/$ppd" ||
    fail "the packaged $ppd differs from the built one"
done
status=0
"$work/root$filter_dir/strobane" 2>"$work/usage" || status=$?
[ "$status" -eq 1 ] && grep -q "^ERROR: strobane job-id" "$work/usage" ||
  fail "the packaged filter does not answer as the filter does"
# Installing makes the printer application's account, in lp and shadow.
dpkg-deb -e "$deb" "$work/control"
grep -q "adduser --quiet strobane-printer-app lp" "$work/control/postinst" ||
  fail "the package's postinst does not make the printer application's account"
echo "the package holds the filter, the viewer, the virtual printer, both PPDs, the manual pages, the printer application, its unit and its account"
