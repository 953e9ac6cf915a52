# SPDX-License-Identifier: Apache-2.0
# Open URL in headless Chromium and act on the page as a user does, step by step:
# set:ID=VALUE sets a form field, click:ID clicks a button and, once the page it leads
# to has loaded, prints the text of the element with id "said" (or "" when it has none).
# Usage: click.py URL STEP... -- CHROMIUM-COMMAND...
# Chromium is driven over its DevTools pipe (fds 3 and 4), which needs no network port.
import json
import os
import subprocess
import sys

args = sys.argv[1:]
split = args.index("--")
url, steps, chromium = args[0], args[1:split], args[split + 1:]

to_chromium_read, to_chromium_write = os.pipe()
from_chromium_read, from_chromium_write = os.pipe()
shell = f'exec "$0" "$@" 3<&{to_chromium_read} 4>&{from_chromium_write}'
browser = subprocess.Popen(["sh", "-c", shell, chromium[0], "--remote-debugging-pipe"] + chromium[1:],
                           pass_fds=(to_chromium_read, from_chromium_write),
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
os.close(to_chromium_read)
os.close(from_chromium_write)
sending = os.fdopen(to_chromium_write, "wb")
receiving = os.fdopen(from_chromium_read, "rb")
pending = b""
next_id = 0
events = []


def message():
    global pending
    while b"\0" not in pending:
        chunk = receiving.read1(65536)
        if not chunk:
            sys.exit("chromium closed its pipe")
        pending += chunk
    text, pending = pending.split(b"\0", 1)
    return json.loads(text)


def call(method, session=None, **params):
    global next_id
    next_id += 1
    request = {"id": next_id, "method": method, "params": params}
    if session:
        request["sessionId"] = session
    sending.write(json.dumps(request).encode() + b"\0")
    sending.flush()
    while True:
        reply = message()
        if reply.get("id") == next_id:
            if "error" in reply:
                sys.exit(f"{method}: {reply['error']}")
            return reply["result"]
        if "method" in reply:
            events.append(reply)


def wait_for_load(session):
    while True:
        event = events.pop(0) if events else message()
        if event.get("method") == "Page.loadEventFired" and event.get("sessionId") == session:
            return


def evaluate(session, expression):
    result = call("Runtime.evaluate", session, expression=expression, returnByValue=True)
    return result["result"].get("value")


target = call("Target.createTarget", url="about:blank")["targetId"]
session = call("Target.attachToTarget", targetId=target, flatten=True)["sessionId"]
call("Page.enable", session)
call("Page.navigate", session, url=url)
wait_for_load(session)
for step in steps:
    kind, what = step.split(":", 1)
    if kind == "set":
        field, value = what.split("=", 1)
        evaluate(session, f"document.getElementById({json.dumps(field)}).value = {json.dumps(value)}")
    else:
        evaluate(session, f"document.getElementById({json.dumps(what)}).click()")
        wait_for_load(session)
        said = evaluate(session, "(document.getElementById('said') || {}).textContent || ''")
        print(said)
try:
    call("Browser.close")
except SystemExit:
    pass
browser.wait(timeout=20)
