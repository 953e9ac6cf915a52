#!/bin/bash
# SPDX-License-Identifier: Apache-2.0
# One server for each state file, spool directory, local socket and port. While a server
# runs with two printers, a second one started on its state file, its spool directory,
# its local socket (the same program name) or its port exits non-zero with a message that
# names the first one's process, leaves none of its own files behind, and the first still
# serves its printers on the socket and on 127.0.0.1 and [::1]. A second server under
# another name, with files and a port of its own, runs beside it; killed, it starts again
# over the socket and lock files it left. Each server removes its socket and lock files
# when it ends.
# shellcheck source=tests/app/lib.sh
. "$(dirname "$0")/lib.sh"

tmp=${TMPDIR:-/tmp}
# Where the server running under NAME has its local socket.
socket_of() {
  if [ "$(id -u)" = 0 ]; then echo "/run/$1.sock"; else echo "$tmp/$1$(id -u).sock"; fi
}

# The first server answers for both its printers on its socket, and on its port at each
# loopback address this host has.
first_serves() {
  local printers host hosts=127.0.0.1
  printers=$("$work/$name" printers | sort | tr '\n' ' ')
  [ "$printers" = "label label300 " ] || fail "$1: the first server's socket lists [$printers]"
  grep -q '^0\{31\}1 ' /proc/net/if_inet6 2>/dev/null && hosts+=" [::1]"
  for host in $hosts; do
    ipptool -t "ipp://$host:$port/ipp/print/label300" "$tests/get-printer-attributes.test" \
      >/dev/null 2>&1 || fail "$1: the first server does not answer on $host:$port"
  done
}

# The command line of a second server with STATE, SPOOL and PORT, in the array line.
second_server() {
  line=(server -o server-port="$3" -o log-file="$work/second/app.log" -o spool-directory="$2"
    -o state-file="$1" -o user=root -o auth-service=none -o server-options=no-tls
    -o device-directory="$work")
}

# Start the second server under its own name, files and PORT, beside the first; set pid_b
# once it answers.
start_beside() {
  second_server "$work/second/app.state" "$work/second/spool" "$1"
  "$work/$name-b" "${line[@]}" >"$work/second/app.out" 2>&1 &
  pid_b=$!
  undo_part="stop $pid_b"
  for _ in $(seq 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && break
    kill -0 "$pid_b" 2>/dev/null || fail "the server beside it exited: $(cat "$work/second/app.out")"
    sleep 0.1
  done
}

part_second() {
  start_app
  mkdir -p "$work/second/spool"
  ln -s "$(readlink -f "$app")" "$work/$name-b"
  local other_port line shares runs state spool at want got status pid_b
  other_port=$(free_port)
  while IFS='|' read -r shares runs state spool at want; do
    status=0
    second_server "$state" "$spool" "$at"
    got=$(timeout 30 "$work/$runs" "${line[@]}" 2>&1) || status=$?
    [ "$status" != 0 ] && [ "$status" != 124 ] ||
      fail "$shares: the second server exited $status: $got"
    [[ "$got" == *"$want"* ]] || fail "$shares: the refusal is not \"$want\": $got"
    [ ! -e "$(socket_of "$name-b")" ] && [ ! -e "$(socket_of "$name-b").lock" ] &&
      [ -z "$(find "$work/second" -name '*.lock')" ] ||
      fail "$shares: the refused server left its files"
    first_serves "$shares"
    echo "second: a second server on the first one's $shares is refused, naming process $app_pid"
  done <<EOF
state file|$name-b|$work/app.state|$work/second/spool|$other_port|The state file '$work/app.state' is in use by the server running as process $app_pid.
spool directory|$name-b|$work/second/app.state|$work/spool|$other_port|The spool directory '$work/spool' is in use by the server running as process $app_pid.
local socket|$name|$work/second/app.state|$work/second/spool|$other_port|The local socket '$(socket_of "$name")' is in use by the server running as process $app_pid.
port|$name-b|$work/second/app.state|$work/second/spool|$port|Unable to listen on 'localhost' port $port: Address already in use; process $app_pid listens on that port.
EOF

  # Under another name, with files and a port of its own, a second server runs beside it;
  # killed, it leaves its socket and lock files, which do not keep it from starting again.
  : >"$work/out/other.prn"
  start_beside "$other_port"
  "$work/$name-b" add -d other -m strb203 -v "file://$work/out/other.prn" ||
    fail "the server beside it could not add a printer"
  first_serves "a server beside it"
  for _ in $(seq 50); do
    grep -q other "$work/second/app.state" 2>/dev/null && break
    sleep 0.1
  done
  kill -KILL "$pid_b"
  wait "$pid_b" 2>/dev/null || true
  [ -S "$(socket_of "$name-b")" ] && [ -e "$work/second/app.state.lock" ] ||
    fail "the server killed beside it left no socket or lock file"
  start_beside "$other_port"
  got=$("$work/$name-b" printers)
  [ "$got" = other ] || fail "the server beside it, started again, lists [$got]"
  stop "$pid_b"
  undo_part=:
  [ ! -e "$(socket_of "$name-b")" ] && [ ! -e "$(socket_of "$name-b").lock" ] &&
    [ -z "$(find "$work/second" -name '*.lock')" ] ||
    fail "the server beside it left its socket or lock files"
  echo "second: a server under another name with its own files runs beside it, and again once killed"

  stop "$app_pid"
  app_pid=
  [ ! -e "$(socket_of "$name")" ] && [ ! -e "$(socket_of "$name").lock" ] &&
    [ -z "$(find "$work" -maxdepth 2 -name '*.lock')" ] ||
    fail "the first server left its socket or lock files"
  echo "second: a server that ends removes its socket and lock files"
}

part_second
echo "printer application (second): all checks passed"
