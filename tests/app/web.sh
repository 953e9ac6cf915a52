#!/bin/bash
# SPDX-License-Identifier: Apache-2.0
# Headless Chromium on the setup pages and the last label's preview, with a screenshot
# of each page saved in SHOTS (the 7th argument).
# shellcheck source=tests/app/lib.sh
. "$(dirname "$0")/lib.sh"

# Print the texts of a page that show raw names: a setting headed by its IPP attribute
# name, or a choice shown as its keyword.
raw_names() {
  python3 -c '
import html.parser, re, sys
class Page(html.parser.HTMLParser):
    tag, value, raw = None, None, []
    def handle_starttag(self, tag, attrs):
        self.tag, self.value = tag, dict(attrs).get("value")
    def handle_data(self, text):
        text = text.strip()
        if self.tag == "th" and re.fullmatch(r"[a-z][a-z0-9-]*:", text) or \
           self.tag in ("option", "input") and text == self.value and re.search("[a-z]", text):
            self.raw.append(text)
page = Page()
page.feed(sys.stdin.read())
print(" ".join(page.raw))'
}

# Print the value a browser shows for the page's select NAME: the option marked selected,
# or the first.
shown_choice() {
  python3 -c '
import html.parser, sys
class Page(html.parser.HTMLParser):
    inside, first, chosen = False, None, None
    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        if tag == "select":
            self.inside = attrs.get("name") == sys.argv[1]
        elif tag == "option" and self.inside:
            self.first = self.first or attrs.get("value")
            if "selected" in attrs:
                self.chosen = attrs.get("value")
    def handle_endtag(self, tag):
        self.inside = self.inside and tag != "select"
page = Page()
page.feed(sys.stdin.read())
print(page.chosen or page.first or "")' "$1"
}

# Print a label, then let Chromium show the status, defaults, media and last label pages:
# each renders whole, the defaults show plain names, the media page lists every named
# size, and the preview shows the viewer's summary of what reached the device and a
# picture of the label's size in dots, the same as the viewer draws.
part_web() {
  [ -n "$shots" ] || fail "no folder for the screenshots given"
  mkdir -p "$shots"
  rm -f "$shots"/*.png
  start_app
  python3 "$data/gray_label.py" "$work/label.pgm" >/dev/null
  pnmtopng "$work/label.pgm" >"$work/label.png" 2>/dev/null
  print_job web label "$work/label.png" image/png
  [ "$state" = completed ] || fail "the label's job is $state: $message"
  local web="http://127.0.0.1:$port" expected dots shot path title want size got
  expected=$(summary "$work/jobs/web.prn" 203.2)
  dots=$(echo "$expected" | sed -n 's/.* mm (\([0-9]*x[0-9]*\) dots).*/\1/p')
  "$viewer" --dpi 203.2 -o "$work/view" "$work/jobs/web.prn" >/dev/null 2>&1

  while IFS='|' read -r shot path title want; do
    browser --screenshot="$shots/$shot.png" "$web$path" >/dev/null
    got=$(pngtopam "$shots/$shot.png" 2>/dev/null | pamfile 2>/dev/null || true)
    [[ "$got" == *" 1280 by 1000 "* ]] || fail "$shot: no 1280x1000 screenshot of $path: $got"
    browser --dump-dom "$web$path" >"$work/$shot.html"
    grep -qF "<title>$title - Strobane Label Printers</title>" "$work/$shot.html" ||
      fail "$shot: $path is not titled \"$title\""
    grep -qF "Strobane label printer application</div>" "$work/$shot.html" ||
      fail "$shot: $path ends early"
    grep -qF "$want" "$work/$shot.html" || fail "$shot: $path lacks '$want'"
    echo "$shot: $path rendered, $shots/$shot.png"
  done <<EOF
status|/label/|label|<a class="btn" href="/label/last-label">Last Label</a>
defaults|/label/printing|Printing Defaults - label|<th>Black and white conversion:</th>
media|/label/media|Media - label|<option value="na_index-4x6_4x6in" selected="">4 x 6"</option>
preview|/label/last-label|Last Label - label|<pre class="summary">$expected</pre>
handling|/label/device|Label Handling - label|<input type="submit" id="calibrate" value="Calibrate the label sensor">
EOF

  # Each conversion under its plain name.
  local keyword
  while IFS='|' read -r keyword want; do
    grep -qE "<option value=\"$keyword\"( selected=\"\")?>$want</option>" "$work/defaults.html" ||
      fail "the defaults page does not name $keyword '$want'"
  done <<'EOF'
threshold|Sharp: threshold at mid gray \(barcodes, text\)
threshold-bold|Bold: light grays print black \(thin text\)
dither-ordered|Dithered: fine pattern \(photos, fills\)
dither-clustered|Dithered: clustered dots
dither-fine|Dithered: finest pattern
EOF
  got=$(raw_names <"$work/defaults.html")
  [ -z "$got" ] || fail "the defaults page shows raw names: $got"

  # A darkness set over IPP is shown as it is, and the defaults form sent back as shown
  # keeps it.
  cat >"$work/darkness.test" <<'EOF'
{
  OPERATION Get-Printer-Attributes
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri $uri
  ATTR keyword requested-attributes printer-darkness-configured
  STATUS successful-ok
  DISPLAY printer-darkness-configured
}
EOF
  local darkness shown token
  for darkness in 50 90 53; do
    printer_request label Set-Printer-Attributes "set darkness $darkness" \
      "GROUP printer-attributes-tag" "ATTR integer printer-darkness-configured $darkness"
    curl -s "$web/label/printing" >"$work/printing.html"
    shown=$(shown_choice print-darkness <"$work/printing.html")
    [ "$shown" = "$darkness" ] || fail "darkness $darkness: the defaults page shows $shown%"
    token=$(sed -n 's/.*name="session" value="\([^"]*\)".*/\1/p' "$work/printing.html" | head -n 1)
    curl -s -H "Origin: $web" --data "session=$token&print-darkness=$shown" \
      "$web/label/printing" >"$work/saved.html"
    grep -qF "Changes saved." "$work/saved.html" ||
      fail "darkness $darkness: the defaults form was not saved"
    got=$(ipptool -t "$uri/label" "$work/darkness.test" |
      sed -n 's/.*printer-darkness-configured (integer) = //p')
    [ "$got" = "$darkness" ] || fail "darkness $darkness: the unchanged form saved '$got'"
  done
  echo "defaults: darkness 50, 90 and 53 shown and kept by the unchanged form"
  got=$(ipptool -tv "$uri/label" "$tests/get-printer-attributes.test" |
    sed -n 's/.*media-supported (1setOf keyword) = //p')
  for size in ${got//,/ }; do
    [[ $size == custom_* ]] || grep -qF "<option value=\"$size\"" "$work/media.html" ||
      fail "the media page does not list $size"
  done

  # The picture as Chromium loads it from the preview page's own link, and as served.
  path=$(sed -n 's/.*<img id="last-label" src="\([^"]*\)".*/\1/p' "$work/preview.html")
  echo "<img src=\"$web$path\" onload=\"document.title = this.naturalWidth + 'x' + this.naturalHeight\">" \
    >"$work/picture.html"
  got=$(browser --dump-dom "file://$work/picture.html" | sed -n 's/.*<title>\(.*\)<\/title>.*/\1/p')
  [ "$got" = "$dots" ] || fail "the preview picture is '$got', the label $dots dots"
  fetch "$web$path" >"$work/preview.png"
  cmp -s "$work/preview.png" "$work/view-1.png" || fail "the preview picture is not strobane-view's"
  echo "preview: $expected; a picture of $got dots, the same as strobane-view's"

  # Two printers printing at once each keep their own last label (at 8 and 12 dots/mm).
  print_job both203 label "$work/label.png" image/png conversion=dither-ordered &
  local first=$!
  print_job both300 label300 "$work/label.png" image/png conversion=dither-fine
  wait "$first" || fail "the job on label failed"
  for printer in label:both203:203.2 label300:both300:304.8; do
    IFS=: read -r printer job dpi <<<"$printer"
    "$viewer" --dpi "$dpi" -o "$work/$job" "$work/jobs/$job.prn" >/dev/null 2>&1
    fetch "$web/$printer/last-label.png" >"$work/$job-preview.png"
    cmp -s "$work/$job-preview.png" "$work/$job-1.png" ||
      fail "$printer: its preview is not strobane-view's picture of what it printed"
  done
}

part_web
echo "printer application (web): all checks passed"
