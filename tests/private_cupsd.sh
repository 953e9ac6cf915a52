# SPDX-License-Identifier: Apache-2.0
# The configuration of a private cupsd for the tests, sourced by the scripts that
# start one: every directory under its own root, and nothing of the system's touched.

# Write ROOT/etc/cups-files.conf with its folders under ROOT (as the scheduler will
# see it), running filters as lp; further lines (ServerBin, FileDevice) follow. With
# WRITE_ROOT set, the file is written under that prefix (a chroot seen from outside).
write_cups_files_conf() {
  local root=$1
  shift
  {
    cat <<EOF
ServerRoot $root/etc
RequestRoot $root/spool
TempDir $root/spool/tmp
CacheDir $root/cache
StateDir $root/state
AccessLog $root/log/access_log
ErrorLog $root/log/error_log
PageLog $root/log/page_log
User lp
Group lp
SystemGroup root
EOF
    [ $# -eq 0 ] || printf '%s\n' "$@"
  } >"${WRITE_ROOT:-}$root/etc/cups-files.conf"
}

# Write ROOT/etc/cupsd.conf listening on each address given (a host:port or a socket),
# with debug logging, no browsing and no web interface, and a policy open to root's
# lpadmin (without it lpadmin fails with "Bad authentication data").
write_cupsd_conf() {
  local root=$1
  shift
  {
    echo "LogLevel debug"
    printf 'Listen %s\n' "$@"
    cat <<'EOF'
Browsing No
WebInterface No
<Policy default>
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
EOF
  } >"${WRITE_ROOT:-}$root/etc/cupsd.conf"
}

# Make ROOT/serverbin, a ServerBin of the system's CUPS programs but with FILTER as the
# strobane filter: a copy that only root can write, as cupsd runs no other.
write_server_bin() {
  local root=$1 filter=$2 system_bin dir program
  mkdir -p "$root/serverbin/filter"
  system_bin=$(cups-config --serverbin)
  for dir in backend daemon driver notifier; do
    ln -s "$system_bin/$dir" "$root/serverbin/$dir"
  done
  for program in "$system_bin"/filter/*; do
    [ "${program##*/}" = strobane ] || ln -s "$program" "$root/serverbin/filter/"
  done
  install -o root -g root -m 0755 "$filter" "$root/serverbin/filter/strobane"
}
