#!/bin/bash
# SPDX-License-Identifier: Apache-2.0
# Install the Debian package that package_test.sh built on a fresh Debian 12 (a
# minbase debootstrap chroot, made once and kept in BUILD_DIR/debootstrap) with apt,
# print a PDF through it with the chroot's own CUPS scheduler, then remove and purge it.
# Usage: fresh_install_test.sh BUILD_DIR LABEL_PS
# Runs as root; exit status 77 means skipped. KEEP_CHROOT=1 keeps the chroot.
set -euo pipefail
# shellcheck source=tests/private_cupsd.sh
. "$(dirname "$0")/private_cupsd.sh"
export LC_ALL=C

if [ "$(id -u)" != 0 ]; then
  echo "skipped: making a chroot and mounting in it needs root"
  exit 77
fi
build=$(realpath "$1")
label_ps=$(realpath "$2")
deb=$(ls "$build"/package/strobane_*.deb)
mirror=http://deb.debian.org/debian
cache=$build/debootstrap/bookworm
work=$build/fresh-install
root=$work/root

# Everything the chroot runs sees this scheduler, and no service of the host.
cups=/tmp/cups
export CUPS_SERVER=$cups/cups.sock DEBIAN_FRONTEND=noninteractive

cupsd_pid= app_pid=
mounts=()
fail() {
  echo "FAIL: $*"
  if [ -n "$cupsd_pid" ] && [ -f "$root$cups/log/error_log" ]; then
    echo "--- cupsd's error log, last lines:"
    grep -v -E "argv|envp" "$root$cups/log/error_log" | tail -n 40
  fi
  exit 1
}

# Print the mount points at or below DIR.
mounts_below() {
  findmnt -rn -o TARGET | grep -E "^$1(/|\$)" || true
}

# Stop the scheduler, unmount what was mounted, and delete the chroot only when
# nothing is mounted in it any more.
cleanup() {
  [ -z "$app_pid" ] || kill "$app_pid" 2>/dev/null || true
  if [ -n "$cupsd_pid" ]; then
    kill "$cupsd_pid" 2>/dev/null || true
    wait "$cupsd_pid" 2>/dev/null || true
  fi
  local i
  for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do
    umount "${mounts[i]}" || umount -l "${mounts[i]}" || true
  done
  for dir in "$root" "$cache.new"; do
    if [ -n "$(mounts_below "$dir")" ]; then
      echo "still mounted, so not deleted: $(mounts_below "$dir")"
    elif [ "$dir" = "$root" ] && [ -n "${KEEP_CHROOT:-}" ]; then
      echo "chroot kept: $root"
    else
      rm -rf "$dir"
    fi
  done
}
trap cleanup EXIT
trap 'exit 1' HUP INT TERM

# Run a command inside the chroot.
in_root() {
  chroot "$root" "$@"
}

# Mount a file system of TYPE (or --bind SOURCE) at DIR inside the chroot.
mount_in_root() {
  local dir=$root$1
  shift
  mount "$@" "$dir"
  mounts+=("$dir")
}

# The fresh machine: Debian 12's minimal base, made once per build folder.
start=$SECONDS
if [ ! -d "$cache" ]; then
  rm -rf "$cache.new"
  mkdir -p "$(dirname "$cache")"
  debootstrap --variant=minbase bookworm "$cache.new" "$mirror" >"$build/debootstrap.log" 2>&1 ||
    { tail -n 20 "$build/debootstrap.log"; fail "debootstrap could not make the chroot"; }
  mv "$cache.new" "$cache"
  echo "debootstrap made a minbase bookworm in $((SECONDS - start)) s"
fi
rm -rf "$work"
mkdir -p "$work"
cp -a "$cache" "$root"
cat >"$root/etc/apt/sources.list" <<EOF
deb $mirror bookworm main
deb $mirror bookworm-updates main
deb http://deb.debian.org/debian-security bookworm-security main
EOF
cp -L /etc/resolv.conf "$root/etc/resolv.conf"
# Package scripts start no service here: the test starts its own scheduler.
printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
chmod 0755 "$root/usr/sbin/policy-rc.d"
mount_in_root /proc -t proc proc
mount_in_root /sys --bind /sys
mount -o remount,bind,ro "$root/sys"
mount_in_root /dev --bind /dev
mount_in_root /dev/pts --bind /dev/pts
cp "$deb" "$label_ps" "$root/tmp/"
echo "chroot ready in $((SECONDS - start)) s"

# apt pulls in every dependency, and cups, which the package recommends.
start=$SECONDS
in_root apt-get update -qq >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "apt-get update failed"; }
in_root apt-get install -y -q "/tmp/$(basename "$deb")" >>"$work/apt.log" 2>&1 ||
  { tail -n 30 "$work/apt.log"; fail "apt-get could not install the package"; }
for package in strobane cups cups-filters libcups2 libpng16-16; do
  [ "$(in_root dpkg-query -W -f='${Status}' "$package")" = "install ok installed" ] ||
    fail "$package is not installed"
done
echo "apt-get installed the package and $(grep -c '^Setting up' "$work/apt.log") packages in $((SECONDS - start)) s"

# The package made the printer application's account (in lp for USB printers, in
# shadow for PAM) and installed its unit; started by hand as root, the application
# leaves root for that account and keeps its files and socket to it.
account=$(in_root getent passwd strobane-printer-app) || fail "no account strobane-printer-app"
[[ "$account" == *":/var/lib/strobane-printer-app:/usr/sbin/nologin" ]] ||
  fail "the account is \"$account\""
for group in lp shadow; do
  in_root id -nG strobane-printer-app | grep -qw "$group" || fail "the account is not in $group"
done
[ -f "$root/lib/systemd/system/strobane-printer-app.service" ] || fail "the unit is not installed"
app_port=$((10000 + RANDOM % 20000)) # below the local ports of outgoing connections
chroot "$root" strobane-printer-app server -o server-port="$app_port" >"$work/app.out" 2>&1 &
app_pid=$!
for _ in $(seq 100); do
  [ -S "$root/run/strobane-printer-app/strobane-printer-app.sock" ] && break
  sleep 0.1
done
grep -q "Started as root: serving as user 'strobane-printer-app'" "$work/app.out" ||
  fail "the application did not say that it leaves root: $(cat "$work/app.out")"
uid=$(in_root id -u strobane-printer-app)
grep -q "^Uid:[[:space:]]*$uid[[:space:]]" "/proc/$app_pid/status" || fail "the application still runs as root"
for entry in "/var/lib/strobane-printer-app 700 strobane-printer-app" \
  "/run/strobane-printer-app/strobane-printer-app.sock 660 strobane-printer-app:lpadmin"; do
  read -r path mode owner <<<"$entry"
  got=$(in_root stat -c "%a %U:%G" "$path")
  [[ "$got" == "$mode $owner"* ]] || fail "$path is $got, not $mode $owner"
done
echo "the account, in lp and shadow, and the unit are installed; as root the application serves as the account"

# The installed service prints a PDF, rendered by the packages it depends on.
label_pdf=/tmp/label.pdf
in_root gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sOutputFile="$label_pdf" \
  "/tmp/$(basename "$label_ps")"
in_root install -d -o strobane-printer-app -m 0755 /tmp/app-out
in_root install -o strobane-printer-app -m 0644 /dev/null /tmp/app-out/label.prn
kill "$app_pid"
wait "$app_pid" 2>/dev/null || true
chroot "$root" strobane-printer-app server -o server-port="$app_port" \
  -o device-directory=/tmp/app-out >"$work/app.out" 2>&1 &
app_pid=$!
for _ in $(seq 100); do
  in_root strobane-printer-app add -d label -m strb203 -v file:///tmp/app-out/label.prn \
    >/dev/null 2>&1 && break
  sleep 0.1
done
in_root strobane-printer-app submit -d label "$label_pdf" >/dev/null ||
  fail "the application refused the PDF"
for _ in $(seq 600); do
  app_summary=$(in_root strobane-view --check /tmp/app-out/label.prn 2>/dev/null || true)
  [[ "$app_summary" != "label 1: "* ]] || break
  sleep 0.2
done
[[ "$app_summary" == "label 1: 102x152 mm "*", dark "[1-9]* ]] ||
  fail "the application printed \"$app_summary\" for the PDF: $(tail -n 20 "$work/app.out")"
kill "$app_pid"
wait "$app_pid" 2>/dev/null || true
app_pid=
echo "the installed service printed the PDF: $app_summary"

# A scheduler of the chroot's own cups with the installed filter and PPDs, on a
# socket of its own, as the print test runs one.
mkdir -p "$root$cups"/{etc,spool/tmp,cache,state,log,out}
WRITE_ROOT=$root write_cups_files_conf "$cups" "FileDevice Yes"
WRITE_ROOT=$root write_cupsd_conf "$cups" "$cups/cups.sock"
chroot "$root" cupsd -f -c "$cups/etc/cupsd.conf" -s "$cups/etc/cups-files.conf" \
  >"$work/cupsd.out" 2>&1 &
cupsd_pid=$!
for _ in $(seq 100); do
  in_root lpstat -r 2>/dev/null | grep "is running" >/dev/null && break
  kill -0 "$cupsd_pid" 2>/dev/null || fail "cupsd exited: $(cat "$work/cupsd.out")"
  sleep 0.1
done

# Both models, by the names the PPDs give them.
models=$(in_root lpinfo -m | grep strobane) || fail "lpinfo -m lists no strobane model"
expected="lsb/usr/strobane/strb203.ppd Strobane Label 203dpi, 1.0
lsb/usr/strobane/strb300.ppd Strobane Label 300dpi, 1.0"
[ "$models" = "$expected" ] || fail "lpinfo -m lists
$models
where the models are
$expected"
echo "lpinfo -m lists both models"

# A queue made by model name prints a PDF through the installed filter.
in_root lpadmin -p label -E -v "file://$cups/out/label.out" -m lsb/usr/strobane/strb203.ppd \
  >"$work/lpadmin.log" 2>&1 || fail "lpadmin failed: $(cat "$work/lpadmin.log")"
reply=$(in_root lp -d label "$label_pdf") || fail "lp refused the job"
job=${reply#request id is label-}
job=${job%% *}
for _ in $(seq 600); do
  in_root lpstat -W completed -o label | grep "^label-$job " >/dev/null && break
  in_root lpstat -p label | grep disabled >/dev/null && fail "the queue stopped at job $job"
  sleep 0.2
done
in_root lpstat -W completed -o label | grep "^label-$job " >/dev/null ||
  fail "job $job did not complete in 120 s"
# The warning that the bitmap's 1218 rows overhang 152 mm (1216 dots) is expected.
summary=$(in_root strobane-view --check "$cups/out/label.out" 2>/dev/null) ||
  fail "the installed viewer finds the printed stream malformed"
pattern='^label 1: 102x152 mm \(816x1216 dots\), gap 0\.120,0\.000, speed 4, density 8, bitmap 816x1218 dots at 0,0, dark [1-9][0-9]* dots, copies 1, overhang 2 dots at the bottom$'
grep -E -q "$pattern" <<<"$summary" && [ "$(wc -l <<<"$summary")" = 1 ] ||
  fail "the viewer reports \"$summary\" for the printed label"
echo "the PDF printed through the queue: $summary"
cmp -s "$root/tmp/app-out/label.prn" "$root$cups/out/label.out" ||
  fail "the application and the queue printed the PDF differently"
echo "the application printed the same bytes as the queue"

# A scanner reads both barcodes off the installed viewer's picture of the label.
in_root strobane-view -o "$cups/out/label" "$cups/out/label.out" >/dev/null 2>&1
codes=$(zbarimg -q --nodbus "$root$cups/out/label-1.png" | sort) || true
expected="CODE-128:00306141410000042174
CODE-128:KP48210937552016"
[ "$codes" = "$expected" ] || fail "zbarimg reads \"$codes\" from the label, not the SSCC and tracking number"
echo "zbarimg reads the SSCC and the tracking number from the printed label"
kill "$cupsd_pid"
wait "$cupsd_pid" 2>/dev/null || true
cupsd_pid=

# A job run by root writes the filter's log, which only purge takes away.
log=/var/log/cups/kv873_NVLs.log
status=0
in_root /usr/lib/cups/filter/strobane 1 root log 1 "" </dev/null 2>/dev/null || status=$?
[ "$status" = 1 ] || fail "the filter on an empty input exited $status, not 1"
[ -f "$root$log" ] || fail "the filter run as root wrote no log at $log"
in_root dpkg -L strobane >"$work/files"
in_root apt-get remove -y -q strobane >>"$work/apt.log" 2>&1 || fail "apt-get remove failed"
[ "$(in_root dpkg-query -W -f='${Status}' strobane)" = "deinstall ok config-files" ] ||
  fail "apt-get remove did not leave the package to purge"
[ -f "$root$log" ] || fail "apt-get remove deleted the log, which purge should"
in_root apt-get purge -y -q strobane >>"$work/apt.log" 2>&1 || fail "apt-get purge failed"
[ -z "$(in_root dpkg-query -W -f='${Status}' strobane 2>/dev/null)" ] ||
  fail "dpkg still knows strobane after purge"
left=""
while read -r path; do
  if [ -e "$root$path" ] && ! in_root dpkg -S "$path" >/dev/null 2>&1; then
    left="$left $path"
  fi
done < <(grep -v '^/\.$' "$work/files" && echo "$log")
[ -z "$left" ] || fail "purge left files of the package behind:$left"
echo "apt-get remove and purge leave none of the package's $(wc -l <"$work/files") paths behind"
