#!/bin/bash
# SPDX-License-Identifier: Apache-2.0
# As root: served as an account of its own, each way in that a local user or an account
# on the network might try beyond its rights is refused (from a network namespace for
# the network), with the files' modes and the unit's exposure.
if [ "$(id -u)" != 0 ]; then
  echo "skipped: the accounts and the network namespace need root"
  exit 77
fi
# shellcheck source=tests/app/lib.sh
. "$(dirname "$0")/lib.sh"

# Print what one way in gave, for the guard table: CHECK is the kind of attempt.
#   socket ACCOUNT                 connect to the local socket as ACCOUNT
#   add ACCOUNT URI                add a printer through the local socket as ACCOUNT
#   ipp WHERE WHO PATH OP ATTR...  an IPP request (WHERE loop, net or plain; WHO - or ACCOUNT)
#   get WHERE WHO URL-PATH         an HTTP GET: its status and how many job names it shows
#   post WHERE WHO URL-PATH DATA   an HTTP POST of the form data, as get
#   form WHO TOKEN ORIGIN          the printer page's "Print Test Page" form: printed or not
#   mode PATH                      the file's mode and owner
#   exposure UNIT                  systemd-analyze's figure for the unit
guard_try() {
  local check=$1 where who url token origin code
  shift
  case $check in
  socket)
    runuser -u "$1" -- curl -s -o /dev/null --unix-socket "/run/$name.sock" http://localhost/ &&
      echo connected || echo "refused ($?)"
    ;;
  add)
    runuser -u "$1" -- timeout 20 "$work/$name" add -d "by-$1" -m strb203 -v "$2" 2>&1 &&
      echo added || true
    ;;
  ipp | get | post)
    where=$1 who=$2
    shift 2
    url="https://$host_address:$port"
    [ "$where" = loop ] && url="http://127.0.0.1:$port"
    [ "$where" = plain ] && url="http://$host_address:$port"
    local run=()
    [ "$where" = loop ] || run=(ip netns exec "$netns")
    if [ "$check" = ipp ]; then
      local path=$1 operation=$2
      shift 2
      [ "$who" = - ] || set -- -u "$who:$password" "$@"
      "${run[@]}" python3 "$data/ipp_request.py" "$url$path" "$operation" "$@"
    else
      local auth=()
      [ "$who" = - ] || auth=(-u "$who:$password")
      [ "$check" = get ] || auth+=(--data "$2")
      code=$("${run[@]}" curl -sk "${auth[@]}" -o "$work/page.html" -w "%{http_code}" "$url$1")
      echo "$code, $(grep -c "secret-" "$work/page.html" || true) job names"
      grep -o "only to those who may administer" "$work/page.html" || true
    fi
    ;;
  form)
    who=$1 token=$2 origin=$3
    local auth=()
    [ "$who" = - ] || auth=(-u "$who:$password")
    [ "$token" = public ] && token=$public_token || token=$admin_token
    [ "$origin" = own ] && origin="http://127.0.0.1:$port"
    : >"$work/svc/devices/label.prn"
    curl -s -o /dev/null "${auth[@]}" -H "Origin: $origin" \
      --data "session=$token&action=print-test-page" "http://127.0.0.1:$port/label/"
    sleep 1
    [ -s "$work/svc/devices/label.prn" ] && echo printed || echo "not printed"
    ;;
  mode) stat -c "%a %U:%G" "$1" ;;
  exposure)
    code=$(systemd-analyze security --offline=true "$1" 2>&1 |
      sed -n 's/.*Overall exposure level for .*: \([0-9.]*\) .*/\1/p')
    awk -v x="$code" 'BEGIN { exit !(x != "" && x <= 2.5) }' && echo "at most 2.5 ($code)" ||
      echo "exposure $code"
    ;;
  esac
}

# Accounts of the test's own (the server's, an administrator, an ordinary one) and its
# own admin group, a network namespace joined to this host by a veth pair, and the
# application started as root, leaving root for its account; then each way in of the
# table, which must give what its last column says.
part_guard() {
  local svc="stbs$$" adm="stba$$" usr="stbu$$" group="stbg$$"
  netns="stbn$$"
  local base="10.$((RANDOM % 200 + 20)).$((RANDOM % 250)).$((RANDOM % 60 * 4))"
  host_address=${base%.*}.$((${base##*.} + 1))
  local ns_address=${base%.*}.$((${base##*.} + 2))
  password="Gu4rd-$$-$RANDOM"
  undo_part="guard_clean $svc $adm $usr $group"
  groupadd "$group"
  useradd --system -M -d "$work/svc/home" -s /usr/sbin/nologin -G lp,shadow "$svc"
  useradd -M -s /bin/sh -G "$group" "$adm"
  useradd -M -s /bin/sh "$usr"
  printf '%s:%s\n%s:%s\n' "$adm" "$password" "$usr" "$password" | chpasswd
  ip netns add "$netns"
  ip link add "sth$$" type veth peer name "stp$$"
  ip link set "stp$$" netns "$netns"
  ip addr add "$host_address/30" dev "sth$$"
  ip link set "sth$$" up
  ip netns exec "$netns" ip addr add "$ns_address/30" dev "stp$$"
  ip netns exec "$netns" ip link set "stp$$" up

  mkdir -p "$work/svc"/{spool,devices,home}
  : >"$work/svc/devices/label.prn"
  chown -R "$svc:" "$work/svc"
  # Other accounts run the program too, which the build tree (under /root, say) may hide.
  rm "$work/$name"
  cp "$(readlink -f "$app")" "$work/$name"
  ln -sf svc/app.log "$work/app.log"
  start_printer_app "$work/$name" "$work/svc" -o user="$svc" -o admin-group="$group" \
    -o auth-service=strobane-printer-app -o device-directory="$work/svc/devices" \
    -o listen-hostname="$host_address" -o log-level=debug
  "$work/$name" add -d label -m strb203 -v "file://$work/svc/devices/label.prn" ||
    fail "root could not add a printer through the local socket"
  "$sample" "$work/page.pwg" 1 406 203 1 pwg
  local pwg=(-f "$work/page.pwg" document-format:mimeMediaType=image/pwg-raster)
  local got
  got=$(guard_try ipp loop - /ipp/print/label Print-Job "${pwg[@]}" \
    requesting-user-name:name=alice job-name:name=secret-alice)
  [[ "$got" == *"job-id = 1"* ]] || fail "an unsigned job on loopback was refused: $got"
  got=$(guard_try ipp net "$adm" /ipp/print/label Print-Job "${pwg[@]}" \
    requesting-user-name:name=mallory job-name:name=secret-admin)
  [[ "$got" == *"job-id = 2"* ]] || fail "the administrator's job was refused: $got"
  local tokens='s/.*name="session" value="\([^"]*\)".*/\1/p'
  public_token=$(curl -s "http://127.0.0.1:$port/label/" | sed -n "$tokens" | head -n 1)
  admin_token=$(curl -s -u "$adm:$password" "http://127.0.0.1:$port/label/" |
    sed -n "$tokens" | head -n 1)

  local create="printer-service-type:keyword=print smi55357-driver:keyword=strb203"
  local attempt check want count=0
  while IFS='|' read -r attempt check want; do
    [ -n "$attempt" ] || continue
    # shellcheck disable=SC2086
    got=$(guard_try $check 2>&1)
    [[ "$got" == *"$want"* ]] || fail "$attempt: got \"$got\", expected \"$want\""
    echo "$attempt: $want"
    count=$((count + 1))
  done <<EOF
ordinary user, local socket|socket $usr|refused
admin group member, local socket|add $adm file://$work/svc/devices/label.prn|added
unsigned, loopback, file device in /etc/profile.d|ipp loop - /ipp/system Create-Printer printer.printer-name:name=evil $create smi55357-device-uri:uri=file:///etc/profile.d?ext=sh|http 401
ordinary account, loopback, file device|ipp loop $usr /ipp/system Create-Printer printer.printer-name:name=evil $create smi55357-device-uri:uri=file://$work/svc/devices/label.prn|http 403
administrator, file device outside the allowed directory|ipp loop $adm /ipp/system Create-Printer printer.printer-name:name=evil $create smi55357-device-uri:uri=file://$work/svc?ext=sh|Operation not permitted
administrator, file device inside it|ipp loop $adm /ipp/system Create-Printer printer.printer-name:name=fine $create smi55357-device-uri:uri=file://$work/svc/devices/label.prn|status successful-ok
unsigned, loopback, cancel a job claiming its owner's name|ipp loop - /ipp/print/label Cancel-Job requesting-user-name:name=$adm job-id:integer=2|http 401
unsigned, loopback, read a job claiming its owner's name|ipp loop - /ipp/print/label Get-Job-Attributes requesting-user-name:name=$adm job-id:integer=2|http 401
unsigned, loopback, read its own job under its name|ipp loop - /ipp/print/label Get-Job-Attributes requesting-user-name:name=alice job-id:integer=1|job-originating-user-name = alice@localhost
ordinary account, network, cancel another's job|ipp net $usr /ipp/print/label Cancel-Job job-id:integer=2|http 403
owner, network, cancel own job (ended)|ipp net $adm /ipp/print/label Cancel-Job job-id:integer=2|already completed
ordinary account, network, list every job|ipp net $usr /ipp/print/label Get-Jobs|http 403
signed-in job's owner is the account, not the name claimed|ipp net $adm /ipp/print/label Get-Job-Attributes job-id:integer=2|job-originating-user-name = $adm
ordinary account, network, last label's picture|get net $usr /label/last-label.png|403
ordinary account, network, last label's page|get net $usr /label/last-label|only to those who may administer
ordinary account, network, label handling page|get net $usr /label/device|only to those who may administer
ordinary account, network, feed a label|post net $usr /label/device action=feed|403
unsigned, network, label handling page|get net - /label/device|401
plain HTTP from the network, status|get plain - /|301
plain HTTP from the network, printer page|get plain - /label/|301
plain HTTP from the network, supplies page|get plain - /label/supplies|301
unsigned, network over TLS, supplies page|get net - /label/supplies|200
plain IPP from the network, job attributes|ipp plain $adm /ipp/print/label Get-Job-Attributes job-id:integer=2|http 426
unsigned, network over TLS, printer page|get net - /label/|200, 0 job names
administrator, network, printer page|get net $adm /label/|200, 2 job names
form with the public token, unsigned, foreign origin|form - public http://evil.example|not printed
form with the public token, administrator|form $adm public own|not printed
form with the administrator's token, foreign origin|form $adm admin http://evil.example|not printed
form with the administrator's token from its own page|form $adm admin own|printed
state file|mode $work/svc/app.state|600 $svc:$svc
spool directory|mode $work/svc/spool|700 $svc:$svc
log|mode $work/svc/app.log|600 $svc:$svc
local socket|mode /run/$name/$name.sock|660 $svc:$group
TLS key|mode $(ls "$work"/svc/home/.cups/ssl/*.key 2>/dev/null | head -n 1)|600 $svc:$svc
the server's account|mode /proc/$app_pid|555 $svc:$svc
the unit's exposure|exposure $tests_dir/../app/strobane-printer-app.service|at most 2.5
EOF
  echo "guard: $count ways in, each refused or allowed as it should be"
}

# Undo part_guard's accounts, group, network namespace and runtime files.
guard_clean() {
  [ -z "$app_pid" ] || stop "$app_pid"
  app_pid=
  ip netns del "$netns" 2>/dev/null || true
  ip link del "sth$$" 2>/dev/null || true
  for account in "$1" "$2" "$3"; do userdel "$account" 2>/dev/null || true; done
  groupdel "$4" 2>/dev/null || true
  rm -rf "/run/$name" "/run/$name.sock"
}

part_guard
echo "printer application (guard): all checks passed"
