#!/bin/bash
# SPDX-License-Identifier: Apache-2.0
# Served on this host's network address too: TLS works, printing and changing settings
# from the network ask for a password, the local socket does not (skipped without a
# network address).
# shellcheck source=tests/app/lib.sh
. "$(dirname "$0")/lib.sh"

part_remote() {
  local address code
  address=$(hostname -I 2>/dev/null | tr ' ' '\n' | grep -v ':' | head -n 1)
  if [ -z "$address" ]; then
    echo "skipped: this host has no network address"
    exit 77
  fi
  start_app -o listen-hostname="$address"
  local remote="ipps://$address:$port/ipp/print/label"
  ipptool -t "$remote" "$tests/get-printer-attributes.test" >"$work/tls.out" 2>&1 ||
    { cat "$work/tls.out"; fail "Get-Printer-Attributes over TLS from $address"; }
  "$sample" "$work/page.pwg" 1 812 1218 1 pwg
  ! ipptool -t -f "$work/page.pwg" -d filetype=image/pwg-raster "$remote" \
    "$tests/print-job.test" >"$work/remote-print.out" 2>&1 ||
    fail "printing from the network was allowed without a password"
  grep -q "client-error-not-authenticated" "$work/remote-print.out" ||
    { cat "$work/remote-print.out"; fail "printing from the network did not ask for a password"; }
  cat >"$work/set.test" <<'EOF'
{
  NAME "set darkness"
  OPERATION Set-Printer-Attributes
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri $uri
  GROUP printer-attributes-tag
  ATTR integer printer-darkness-configured 90
  STATUS successful-ok
}
EOF
  ! ipptool -t "$remote" "$work/set.test" >"$work/set.out" 2>&1 ||
    fail "Set-Printer-Attributes from the network was allowed without a password"
  code=$(curl -s -o /dev/null -w "%{http_code}" "http://$address:$port/label/printing")
  [ "$code" = 301 ] || fail "the web interface over plain HTTP from the network answered $code"
  code=$(curl -sk -o /dev/null -w "%{http_code}" "https://$address:$port/label/printing")
  [ "$code" = 401 ] || fail "the printing defaults page from the network answered $code"
  code=$(curl -sk -o /dev/null -w "%{http_code}" "https://$address:$port/label")
  [ "$code" = 200 ] || fail "the printer's status page from the network answered $code"
  # The local socket needs none: the command line still adds printers.
  "$work/$name" add -d local -m strb203 -v "file://$work/out/label.prn" ||
    fail "the local socket refused to add a printer"
  echo "remote: TLS from $address; printing and settings over the network need a password"
}

part_remote
echo "printer application (remote): all checks passed"
