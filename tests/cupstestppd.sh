#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# Check a generated PPD with cupstestppd: it must pass, with no warning but the
# expected one that its label size names are not Adobe's standard names.
# Usage: cupstestppd.sh FILTER PPD
set -eu
filter=$1 ppd=$2

# cupstestppd requires the PPD's filter in ServerBin, not writable by group or others.
serverbin=$(mktemp -d)
trap 'rm -rf "$serverbin"' EXIT
mkdir "$serverbin/filter"
install -m 0755 "$filter" "$serverbin/filter/strobane"

status=0
report=$(CUPS_SERVERBIN=$serverbin cupstestppd "$ppd") || status=$?
echo "$report"
[ "$status" -eq 0 ] || exit 1
unexpected=$(echo "$report" | grep WARN | grep -v 'WARN    Size ".*" should be' || true)
if [ -n "$unexpected" ]; then
  echo "unexpected warnings:"
  echo "$unexpected"
  exit 1
fi
