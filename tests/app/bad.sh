#!/bin/bash
# SPDX-License-Identifier: Apache-2.0
# Truncated, oversized and unconvertible pages end aborted, and the next job prints; half
# requests are closed, and a document past the size limit or in a format the printer does
# not take is refused.
# shellcheck source=tests/app/lib.sh
. "$(dirname "$0")/lib.sh"

# Print the render folders in DIR that are not OTHER, one a line.
render_folders_in() {
  find "$1" -mindepth 1 -maxdepth 1 -name '*-render-*' ! -path "$2"
}

# Print the processes that run in a folder under DIR: a render's programs.
renderers_in() {
  local proc
  for proc in /proc/[0-9]*; do
    [[ "$(readlink "$proc/cwd" 2>/dev/null)" != "$1"/* ]] || echo "${proc#/proc/}"
  done
}

# Stopped in the middle of a render, the server leaves no render folder behind; killed
# in the middle of one, it leaves it, and the next start removes it, but not the folder
# of a server of another state.
render_folders() {
  local tmp=$work/tmp other left renderer
  mkdir -p "$tmp" "$work/renders/spool"
  chmod 1777 "$tmp"
  other=$tmp/strobane-printer-app-0123456789abcdef-render-other
  mkdir "$other"
  : >"$work/renders/label.prn"
  TMPDIR=$tmp start_printer_app "$work/$name" "$work/renders" -o server-options=no-tls \
    -o pdf-time-limit=120
  uri="ipp://127.0.0.1:$port/ipp/print"
  "$work/$name" add -d label -m strb203 -v "file://$work/renders/label.prn" ||
    fail "could not add the printer for the renders"
  ipptool -d filetype=application/pdf -f "$work/bomb.pdf" "$uri/label" "$work/bomb.test" \
    >/dev/null 2>&1 || fail "the bomb was refused"
  local how
  for how in stop kill; do
    for _ in $(seq 100); do
      [ -z "$(renderers_in "$tmp")" ] || break
      sleep 0.1
    done
    left=$(render_folders_in "$tmp" "$other")
    [ -n "$left" ] && [ -n "$(renderers_in "$tmp")" ] || fail "the bomb is not rendering ($how)"
    if [ "$how" = stop ]; then
      stop "$app_pid"
      [ -z "$(render_folders_in "$tmp" "$other")" ] ||
        fail "the stop left render folders: $(render_folders_in "$tmp" "$other")"
      [ -z "$(renderers_in "$tmp")" ] || fail "the stop left the renderer running"
    else
      kill -KILL "$app_pid"
      wait "$app_pid" 2>/dev/null || true
      for renderer in $(renderers_in "$tmp"); do
        kill -KILL "$renderer" 2>/dev/null || true
      done
      [ -d "$left" ] || fail "the kill left no render folder to find"
    fi
    # The stopped job renders again after the start; the killed one ends aborted.
    TMPDIR=$tmp start_printer_app "$work/$name" "$work/renders" -o server-options=no-tls \
      -o pdf-time-limit=120
    uri="ipp://127.0.0.1:$port/ipp/print"
    [ ! -e "$left" ] || fail "the start after a $how left the render folder $left"
    [ -d "$other" ] || fail "the start after a $how removed another server's render folder"
  done
  grep -q "Removed 1 PDF render folder left by an earlier run." "$work/renders/app.log" ||
    fail "the log does not say that the render folder the kill left was removed"
  echo "render folders: none left by a stop; the one a kill left removed at the next start, another server's kept"
}

part_bad() {
  start_app -o server-options=no-tls -o max-document-size=256k -o stall-timeout=3 \
    -o pdf-time-limit=5
  python3 "$data/hostile_pdf.py" "$work"
  "$sample" "$work/page.pwg" 1 812 1218 1 pwg
  head -c 60000 "$work/page.pwg" >"$work/cut.pwg"
  "$pwgpage" "$work/huge.pwg" 100000 100000 8 18 203 0
  "$pwgpage" "$work/wide.pwg" 800 100 1 3 203 100 99
  "$pwgpage" "$work/dpi.pwg" 800 100 8 18 300
  "$pwgpage" "$work/short.pwg" 800 100 8 18 203 99
  "$pwgpage" "$work/black1.pwg" 800 100 1 3 203
  "$pwgpage" "$work/gray1.pwg" 800 100 1 18 203
  "$pwgpage" "$work/black1.urf" 812 100 1 18 203
  "$pwgpage" "$work/rgb.urf" 800 100 24 19 203
  pgmmake 1 8193 10 | pnmtojpeg >"$work/wide.jpg"
  printf '%%PDF-1.4\n%%%%EOF\n' >"$work/doc.pdf"
  echo "SHIP TO: nowhere" >"$work/text"
  printf '%%!PS-Adobe-3.0\n72 72 moveto (SHIP TO) show showpage\n' >"$work/label.ps"
  printf 'GIF89a\1\0\1\0\0\0\0;' >"$work/dot.gif"
  pgmmake 0 200 100 | pnmtojpeg >"$work/black.jpg"
  # A label of noise that does not compress, cut at 20 KB and at 177 bytes, and an
  # image just over the pixel bound.
  python3 - "$work" <<'PY'
import random, struct, sys, zlib
def png(path, w, h, row, cut=None):
    chunk = lambda t, d: struct.pack('>I', len(d)) + t + d + struct.pack('>I', zlib.crc32(t + d))
    data = b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', w, h, 8, 0, 0, 0, 0))
    data += chunk(b'IDAT', zlib.compress(b''.join(b'\0' + row(y) for y in range(h)), 1))
    data += chunk(b'IEND', b'')
    open(path, 'wb').write(data[:cut])
noise = random.Random(7)
png(sys.argv[1] + '/cut20k.png', 812, 1218, lambda y: noise.randbytes(812), 20000)
png(sys.argv[1] + '/cut177.png', 812, 1218, lambda y: bytes(812), 177)
png(sys.argv[1] + '/bigimage.png', 4097, 4097, lambda y: bytes(4097))
png(sys.argv[1] + '/noise.png', 812, 400, lambda y: noise.randbytes(812))
png(sys.argv[1] + '/white.png', 812, 300, lambda y: b'\xff' * 812)
PY
  local job file format want gone
  while IFS='|' read -r job file format gone want; do
    print_job "$job" label "$work/$file" "$format" gone="$gone"
    [ "$state" = aborted ] || fail "$job: the job is $state, expected aborted"
    [[ "$message" == *"$want"* ]] || fail "$job: job-state-message \"$message\" lacks \"$want\""
    [ ! -s "$work/jobs/$job.prn" ] || fail "$job: $(wc -c <"$work/jobs/$job.prn") bytes reached the device"
    echo "$job: aborted with \"$message\""
    print_job "$job-next" label "$work/page.pwg" image/pwg-raster
    [ "$state" = completed ] || fail "$job-next: the job after it is $state"
    summary "$work/jobs/$job-next.prn" 203.2 >/dev/null
  done <<'EOF'
cut|cut.pwg|image/pwg-raster|2|The page ended after
huge|huge.pwg|image/pwg-raster|0|The page is 100000 dots wide; the print head is 832 dots wide.
wide|wide.pwg|image/pwg-raster|0|Unsupported raster: the page's header does not describe 8-bit gray lines
dpi|dpi.pwg|image/pwg-raster|0|The page is 300x300 dpi; this printer prints at 203 dpi.
short|short.pwg|image/pwg-raster|2|of its 100 lines.
black1|black1.pwg|image/pwg-raster|0|Unsupported raster: a page of fewer than 8 bits per pixel; the printer takes 8-bit gray.
gray1|gray1.pwg|image/pwg-raster|0|Unsupported raster: a page of fewer than 8 bits per pixel; the printer takes 8-bit gray.
black1urf|black1.urf|image/urf|0|Unsupported raster: the page's header does not describe 8-bit gray lines (a 1-bit Apple raster page, say); the printer takes 8-bit gray.
rgburf|rgb.urf|image/urf|0|Unsupported raster: a colour page; the printer takes 8-bit gray.
pdf|doc.pdf|application/pdf|0|The PDF document cannot be read: Couldn't read xref table.
hugepdf|huge.pdf|application/pdf|0|Page 1 of the PDF document is 200 x 200 in; the printer takes pages of at most 50 in a side.
bombpdf|bomb.pdf|application/pdf|0|The PDF document took longer than 5 s to render; the printer stopped it.
recursionpdf|recursion.pdf|application/pdf|0|The PDF document cannot be rendered: Exception: temp file (object 2 0): Loop detected in /Pages structure
cutpdf|cut.pdf|application/pdf|0|The PDF document cannot be read: Couldn't read xref table.
externalpdf|external.pdf|application/pdf|0|The PDF document draws from a file outside itself, which the printer does not read.
javascriptpdf|javascript.pdf|application/pdf|0|The PDF document carries JavaScript, which the printer does not run.
octetpdf|doc.pdf|application/octet-stream|0|The PDF document cannot be read: Couldn't read xref table.
cut20k|cut20k.png|image/png|0|The PNG image cannot be read
cut177|cut177.png|image/png|0|The PNG image cannot be read
bigimage|bigimage.png|image/png|0|The PNG image is 4097x4097 pixels; the printer takes at most 16777216 pixels, 8192 a side.
widejpeg|wide.jpg|image/jpeg|0|The JPEG image is 8193x10 pixels; the printer takes at most 16777216 pixels, 8192 a side.
EOF
  # A document in a format the printer does not take, declared or typed by its first bytes,
  # is refused before a job is made. Validate-Job carries no document to type, so it is
  # asked of declared formats only.
  local first=$last_job operations operation document
  want="Unsupported document: the printer takes PDF, PWG or Apple raster, PNG and JPEG."
  while IFS='|' read -r file format operations; do
    for operation in $operations; do
      document=(-f "$work/$file")
      [ "$operation" != Validate-Job ] || document=()
      python3 "$data/ipp_request.py" "$uri/label" "$operation" "${document[@]}" \
        requesting-user-name:name=tester "document-format:mimeMediaType=$format" >"$work/refused.out"
      if ! grep -qx "status client-error-document-format-not-supported" "$work/refused.out" ||
        ! grep -qxF "status-message = $want" "$work/refused.out" ||
        grep -q "^job-id = " "$work/refused.out"; then
        fail "$operation of $file as $format: $(cat "$work/refused.out")"
      fi
      echo "$operation of $file as $format: refused"
    done
  done <<'EOF'
label.ps|application/postscript|Print-Job Validate-Job
label.ps|application/octet-stream|Print-Job
text|text/plain|Print-Job Validate-Job
text|application/octet-stream|Print-Job
dot.gif|image/gif|Print-Job Validate-Job
dot.gif|application/octet-stream|Print-Job
text|application/x-unknown|Print-Job Validate-Job
page.pwg|image/pwg-raster; x=y|Print-Job Validate-Job
EOF
  # Documents typed by their first bytes print; the first job after the refusals has the
  # next job-id, so none of them made a job.
  for file in white.png page.pwg black.jpg; do
    print_job "octet-$file" label "$work/$file" application/octet-stream
    [ "$state" = completed ] || fail "octet-$file: the job is $state: $message"
    summary "$work/jobs/octet-$file.prn" 203.2 >/dev/null
  done
  [ "$last_job" = $((first + 3)) ] || fail "the refused documents made jobs: job $first, then $last_job"
  python3 "$data/ipp_request.py" "$uri/label" Validate-Job requesting-user-name:name=tester \
    document-format:mimeMediaType=application/octet-stream >"$work/validate.out"
  grep -qx "status successful-ok" "$work/validate.out" ||
    fail "Validate-Job of application/octet-stream: $(cat "$work/validate.out")"
  # Create-Job makes its job before the document comes: Send-Document of a format the
  # printer does not take ends that job, aborted with the reason, rather than leave it held.
  python3 "$data/ipp_request.py" "$uri/label" Create-Job requesting-user-name:name=tester \
    >"$work/create.out"
  local id
  id=$(sed -n 's/^job-id = //p' "$work/create.out")
  [ -n "$id" ] || fail "Create-Job: $(cat "$work/create.out")"
  python3 "$data/ipp_request.py" "$uri/label" Send-Document -f "$work/label.ps" job-id:integer="$id" \
    requesting-user-name:name=tester last-document:boolean=true \
    document-format:mimeMediaType=application/octet-stream >"$work/send.out"
  grep -qx "status client-error-document-format-not-supported" "$work/send.out" ||
    fail "Send-Document of PostScript: $(cat "$work/send.out")"
  python3 "$data/ipp_request.py" "$uri/label" Get-Job-Attributes job-id:integer="$id" \
    requesting-user-name:name=tester >"$work/refused-job.out"
  if ! grep -qx "job-state = 8" "$work/refused-job.out" ||
    ! grep -qxF "job-state-message = $want" "$work/refused-job.out"; then
    fail "the job of a refused Send-Document: $(cat "$work/refused-job.out")"
  fi
  echo "Create-Job, then Send-Document of PostScript: refused, its job aborted with the reason"

  # While the bomb renders, its renderer runs apart: another account, another network,
  # none of the server's descriptors, its bounds; the other printer prints meanwhile.
  job_test >"$work/bomb.test"
  ipptool -d filetype=application/pdf -f "$work/bomb.pdf" "$uri/label" "$work/bomb.test" \
    >/dev/null 2>&1 &
  local bomb=$! renderer=
  for _ in $(seq 100); do
    renderer=$(pgrep -f "^/usr/lib/cups/filter/pdftopdf" | head -n 1) && break
    sleep 0.1
  done
  [ -n "$renderer" ] || fail "no renderer for the bomb"
  if [ "$(id -u)" = 0 ]; then
    [ "$(stat -c %U "/proc/$renderer")" = nobody ] ||
      fail "the renderer runs as $(stat -c %U "/proc/$renderer")"
    [ "$(readlink "/proc/$renderer/ns/net")" != "$(readlink "/proc/$app_pid/ns/net")" ] ||
      fail "the renderer shares the server's network"
  fi
  # Beyond its standard three, it holds only the files it opened in its own directory.
  local fd
  for fd in "/proc/$renderer"/fd/*; do
    [ "${fd##*/}" -le 2 ] || [[ "$(readlink "$fd")" == /tmp/*-render-* ]] ||
      fail "the renderer holds a descriptor of the server's: $(ls -l "/proc/$renderer/fd")"
  done
  grep -q "^Max address space *1073741824" "/proc/$renderer/limits" ||
    fail "the renderer's memory is not bounded: $(cat "/proc/$renderer/limits")"
  "$sample" "$work/page300.pwg" 1 1200 1800 1 pwg 300
  print_job beside-bomb label300 "$work/page300.pwg" image/pwg-raster
  [ "$state" = completed ] || fail "beside-bomb: the job beside the bomb is $state: $message"
  echo "bomb: rendered apart as nobody, without network or the server's descriptors; another job printed meanwhile"
  wait "$bomb"

  # Half a request is closed (its header within 5 s, however it trickles in; its body
  # after 3 s without a byte) while the server answers others.
  local kind
  for kind in header trickle body; do
    python3 "$data/half_request.py" "$port" "$kind" >"$work/half-$kind.out" &
    local half=$!
    printer_request label Get-Printer-Attributes "a request beside half a $kind"
    wait "$half" || fail "half a request ($kind) is still open after 30 s"
    echo "half request ($kind): closed, another answered meanwhile"
  done
  # A document past the limit, whole or in chunks, is refused as too large, leaves nothing
  # of its job in the spool, and the next jobs print.
  local how
  for how in "" -c; do
    python3 "$data/ipp_request.py" "$uri/label" Print-Job -f "$work/noise.png" $how \
      requesting-user-name:name=tester document-format:mimeMediaType=image/png >"$work/big.out"
    grep -qx "status client-error-request-entity-too-large" "$work/big.out" ||
      fail "a document past the limit ${how:+(chunked) }: $(cat "$work/big.out")"
    grep -q "limit of 256 KiB" "$work/big.out" || fail "the refusal names no limit: $(cat "$work/big.out")"
    id=$(sed -n 's/^job-id = //p' "$work/big.out")
    # PAPPL keeps each job's attributes beside it, in a .ipp file saved with the state.
    [ -z "$(find "$work/spool" -name "p*j$(printf %09d "$id")-*" ! -name "*.ipp")" ] ||
      fail "the refused job $id left its document in the spool"
    echo "document past the limit${how:+ (chunked)}: refused, nothing left in the spool"
  done
  # submit fails with the server's reason for a document refused, or a job that ended,
  # while it was sent (a raster page that the free printer streams, here).
  local got
  while IFS='|' read -r file want; do
    ! got=$("$work/$name" submit -d label "$work/$file" 2>&1) || fail "submit $file succeeded: $got"
    # The sanitized build's leak report may follow the message.
    [[ "$got" == *"Unable to print '$work/$file': $want"* ]] || fail "submit $file: $got"
    echo "submit $file: failed with \"$want\""
  done <<'EOF'
noise.png|The document is larger than this server's limit of 256 KiB.
label.ps|Unsupported document: the printer takes PDF, PWG or Apple raster, PNG and JPEG.
huge.pwg|The page is 100000 dots wide; the print head is 832 dots wide.
EOF
  print_job after-big label "$work/white.png" image/png
  [ "$state" = completed ] || fail "after-big: the spooled job after it is $state"
  print_job after-big-raster label "$work/page.pwg" image/pwg-raster
  [ "$state" = completed ] || fail "after-big-raster: the job after it is $state"

  # Looking for devices with no DNS-SD daemon must not end the server.
  if ! pgrep -x avahi-daemon >/dev/null; then
    timeout 60 "$work/$name" devices >/dev/null 2>&1 || fail "devices failed"
    kill -0 "$app_pid" 2>/dev/null || fail "the server ended while it looked for devices"
    echo "devices: listed without a DNS-SD daemon, the server still runs"
  fi
  stop "$app_pid"
  render_folders
}

part_bad
echo "printer application (bad): all checks passed"
