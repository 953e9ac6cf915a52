#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Send one IPP request, signed in or not, and print what came back.

Usage: ipp_request.py URL OPERATION [-u ACCOUNT:PASSWORD] [-f FILE] [-c] [ATTRIBUTE...]
URL is http(s)://HOST:PORT/PATH (ipp and ipps mean the same); OPERATION an IPP operation
name; each ATTRIBUTE is [job.]NAME:TYPE=VALUE (TYPE integer, boolean, keyword, name, uri
or mimeMediaType), in the operation group unless it starts with "job." or "printer."; -c
sends the request in chunks of 64 KiB, as clients do that cannot tell its length. Prints the
HTTP status, then "status NAME", then "NAME = VALUE" for each attribute of the answer.
"""
import base64
import http.client
import ssl
import struct
import sys
import urllib.parse

OPERATIONS = {"Print-Job": 0x02, "Validate-Job": 0x04, "Create-Job": 0x05, "Send-Document": 0x06,
              "Cancel-Job": 0x08, "Get-Job-Attributes": 0x09, "Get-Jobs": 0x0A,
              "Create-Printer": 0x4C, "Delete-Printer": 0x4E}
TYPES = {"integer": 0x21, "boolean": 0x22, "enum": 0x23, "keyword": 0x44, "uri": 0x45,
         "charset": 0x47, "naturalLanguage": 0x48, "mimeMediaType": 0x49, "name": 0x42,
         "text": 0x41}
STATUS = {0x0000: "successful-ok", 0x0400: "client-error-bad-request",
          0x0401: "client-error-forbidden", 0x0402: "client-error-not-authenticated",
          0x0403: "client-error-not-authorized", 0x0404: "client-error-not-possible",
          0x0406: "client-error-not-found", 0x0408: "client-error-request-entity-too-large",
          0x040A: "client-error-document-format-not-supported",
          0x040B: "client-error-attributes-or-values-not-supported",
          0x0500: "server-error-internal-error"}


def attribute(tag, name, value):
    data = value if isinstance(value, bytes) else value.encode()
    return struct.pack(">BH", tag, len(name)) + name.encode() + struct.pack(">H", len(data)) + data


def request(operation, target, extra):
    groups = {0x01: [("charset", "attributes-charset", "utf-8"),
                     ("naturalLanguage", "attributes-natural-language", "en"),
                     ("uri", "system-uri" if target.endswith("/ipp/system") else "printer-uri", target)],
              0x02: [], 0x04: []}
    for item in extra:
        argument, value = item.split("=", 1)
        name, kind = argument.split(":", 1)
        group = 0x01
        for prefix, tag in (("job.", 0x02), ("printer.", 0x04)):
            if name.startswith(prefix):
                group, name = tag, name[len(prefix):]
        groups[group].append((kind, name, value))
    body = struct.pack(">BBHI", 2, 0, OPERATIONS[operation], 1)
    for group, items in groups.items():
        if not items:
            continue
        body += bytes([group])
        for kind, name, value in items:
            if kind in ("integer", "enum"):
                value = struct.pack(">i", int(value))
            elif kind == "boolean":
                value = bytes([value == "true"])
            body += attribute(TYPES[kind], name, value)
    return body + b"\x03"


def answer(data):
    status = struct.unpack(">H", data[2:4])[0]
    print("status", STATUS.get(status, hex(status)))
    at, name = 8, ""
    while at < len(data):
        tag = data[at]
        at += 1
        if tag < 0x10:
            if tag == 0x03:
                break
            continue
        length = struct.unpack(">H", data[at:at + 2])[0]
        name = data[at + 2:at + 2 + length].decode() or name
        at += 2 + length
        length = struct.unpack(">H", data[at:at + 2])[0]
        value = data[at + 2:at + 2 + length]
        at += 2 + length
        if tag in (0x21, 0x23):
            shown = str(struct.unpack(">i", value)[0])
        elif 0x40 <= tag < 0x50:
            shown = value.decode(errors="replace")
        else:
            continue
        print(f"{name} = {shown}")


def main():
    args = sys.argv[1:]
    url, operation, account, document, chunked = args[0], args[1], None, b"", False
    rest = args[2:]
    while rest and rest[0] in ("-u", "-f", "-c"):
        if rest[0] == "-c":
            chunked, rest = True, rest[1:]
            continue
        if rest[0] == "-u":
            account = rest[1]
        else:
            with open(rest[1], "rb") as file:
                document = file.read()
        rest = rest[2:]
    parts = urllib.parse.urlsplit(url)
    secure = parts.scheme in ("https", "ipps")
    target = urllib.parse.urlunsplit(("ipps" if secure else "ipp",) + tuple(parts[1:]))
    if secure:
        connection = http.client.HTTPSConnection(parts.hostname, parts.port, timeout=30,
                                                 context=ssl._create_unverified_context())
    else:
        connection = http.client.HTTPConnection(parts.hostname, parts.port, timeout=30)
    headers = {"Content-Type": "application/ipp"}
    if account:
        headers["Authorization"] = "Basic " + base64.b64encode(account.encode()).decode()
    whole = request(operation, target, rest) + document
    body = (whole[at:at + 65536] for at in range(0, len(whole), 65536)) if chunked else whole
    connection.request("POST", parts.path, body, headers, encode_chunked=chunked)
    response = connection.getresponse()
    data = response.read()
    print("http", response.status)
    if response.status == 200:
        answer(data)


main()
