#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# Build the Debian package with CPack and check what it installs and what it
# depends on, and that cmake --install installs the same files.
# Usage: package_test.sh BUILD_DIR
set -eu
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
  echo "FAIL: $*"
  exit 1
}

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack could not build the package"; }
deb=$(ls "$work"/strobane_*.deb)
echo "package: $(basename "$deb")"

depends=$(dpkg-deb -f "$deb" Depends)
echo "depends: $depends"
for package in libcups2 cups-filters; do
  echo ", $depends," | grep -q ", $package[ ,]" || fail "the package does not depend on $package"
done

# The filter goes where cupsd looks for it, owned by root and writable by no one else.
filter_dir=$(cups-config --serverbin)/filter
contents=$(dpkg-deb -c "$deb")
for entry in "-rwxr-xr-x root/root .* \.$filter_dir/strobane" \
  "-rwxr-xr-x root/root .* \./usr/bin/strobane-view" \
  "-rw-r--r-- root/root .* \./usr/share/ppd/strobane/strb203\.ppd" \
  "-rw-r--r-- root/root .* \./usr/share/ppd/strobane/strb300\.ppd"; do
  echo "$contents" | grep -q -- "^$entry\$" || fail "no entry matching \"$entry\" in
$contents"
done

# The packaged files are the built ones, and the stripped filter still runs.
dpkg-deb -x "$deb" "$work/root"
for ppd in strb203.ppd strb300.ppd; do
  cmp "$build/driver/ppd/$ppd" "$work/root/usr/share/ppd/strobane/$ppd"
done
status=0
"$work/root$filter_dir/strobane" 2>"$work/usage" || status=$?
[ "$status" -eq 1 ] && grep -q "^ERROR: strobane job-id" "$work/usage" ||
  fail "the packaged filter does not answer as the filter does"

DESTDIR="$work/installed" cmake --install "$build" --prefix /usr >/dev/null
(cd "$work/installed" && find . -type f -printf '%m %p\n' | sort) >"$work/installed.list"
(cd "$work/root" && find . -type f -printf '%m %p\n' | sort) >"$work/packaged.list"
diff "$work/installed.list" "$work/packaged.list" ||
  fail "cmake --install and the package install different files"
echo "the package holds the filter, the viewer and both PPDs, as cmake --install does"
