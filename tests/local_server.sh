# SPDX-License-Identifier: Apache-2.0
# Servers started on 127.0.0.1 by the tests and benchmarks, sourced by their scripts;
# each script defines fail, which these call when a server cannot be had.

# Print a TCP port that nothing listens on, below the kernel's range for the local
# ports of outgoing connections (32768 up by default): a client of a test running
# beside this one could otherwise take the port between this check and the bind.
free_port() {
  local port low
  read -r low _ </proc/sys/net/ipv4/ip_local_port_range
  for _ in $(seq 50); do
    port=$((10000 + RANDOM % (low > 12000 ? low - 10000 : 2000)))
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
      echo "$port"
      return
    fi
  done
  fail "no free TCP port found"
}

# Start the printer application PROGRAM on a free port with its state, spool and log
# under DIR, and the server options that follow; set port and app_pid once it answers.
# Unless those say otherwise, it stays the account that starts it (root too), trusts
# loopback clients as administrators, and takes file devices under DIR.
start_printer_app() {
  local program=$1 dir=$2
  shift 2
  port=$(free_port)
  mkdir -p "$dir/spool"
  "$program" server -o server-port="$port" -o log-file="$dir/app.log" \
    -o spool-directory="$dir/spool" -o state-file="$dir/app.state" -o user=root \
    -o auth-service=none -o device-directory="$dir" "$@" >"$dir/app.out" 2>&1 &
  app_pid=$!
  for _ in $(seq 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && return
    kill -0 "$app_pid" 2>/dev/null || fail "the application exited: $(cat "$dir/app.out")"
    sleep 0.1
  done
  fail "the application did not answer on port $port in 10 s"
}

# Start the virtual printer PROGRAM on a free port, printing at once into DIR/virtual
# with its lines in DIR/virtual.out, its buttons read from INPUT (none by default) and
# the options that follow; set vport and vprinter_pid once it listens.
start_virtual_printer() {
  local program=$1 dir=$2 input=${3:-/dev/null}
  shift $(($# < 3 ? $# : 3))
  "$program" --port 0 --time-scale 0 -o "$dir/virtual" "$@" <"$input" >"$dir/virtual.out" 2>&1 &
  vprinter_pid=$!
  for _ in $(seq 100); do
    vport=$(sed -n 's/^listening 127.0.0.1://p' "$dir/virtual.out")
    [ -z "$vport" ] || return 0
    sleep 0.1
  done
  fail "the virtual printer did not start: $(cat "$dir/virtual.out")"
}

# Write the ipptool file that waits until job $job has ended and shows how it ended.
# With DELAY and LIMIT, it asks every DELAY seconds at most LIMIT times; without, at
# ipptool's own pace at most 600 times.
wait_test() {
  local delay=${1:-} limit=${2:-600}
  cat <<EOF
{
  NAME "wait"
  OPERATION Get-Job-Attributes${delay:+
  DELAY $delay}
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri \$uri
  ATTR integer job-id \$job
  STATUS successful-ok
  EXPECT job-state WITH-VALUE >6 REPEAT-NO-MATCH REPEAT-LIMIT $limit
  DISPLAY job-state
  DISPLAY job-state-message
}
EOF
}
