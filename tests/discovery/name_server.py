#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""A small DNS server for the discovery tests: answers A, SRV and MX questions over UDP from a zone file.

Usage: name_server.py ZONE.json ADDRESS PORT LOG

The zone is {"name": [[type, ...data], ...]} with names in lower case and without the trailing dot:
  ["A", "127.0.0.21"], ["MX", preference, "host"], ["SRV", priority, weight, port, "target"] (target "." for
  "not offered"). A name in the zone answers NOERROR with its records of the type asked (none for the others); any
  other name answers NXDOMAIN. "delays" at the top level, [{"suffix": "slow.test", "ms": 10000}], holds the
  answers for the names that end in a suffix back that long. Each question is appended to LOG as "name type".
  Prints "ready" once it listens.
"""
import json
import socket
import struct
import sys
import threading
import time

TYPES = {"A": 1, "MX": 15, "SRV": 33, "AAAA": 28}


def encode_name(name):
    if name in (".", ""):
        return b"\0"
    out = b""
    for label in name.rstrip(".").split("."):
        data = label.encode("ascii")
        out += bytes([len(data)]) + data
    return out + b"\0"


def read_question(packet):
    at = 12
    labels = []
    while packet[at] != 0:
        length = packet[at]
        labels.append(packet[at + 1:at + 1 + length].decode("ascii", "replace"))
        at += 1 + length
    qtype, qclass = struct.unpack("!HH", packet[at + 1:at + 5])
    return ".".join(labels).lower(), qtype, qclass, packet[12:at + 5]


def record_data(kind, data):
    if kind == "A":
        return socket.inet_aton(data[0])
    if kind == "MX":
        return struct.pack("!H", data[0]) + encode_name(data[1])
    if kind == "SRV":
        return struct.pack("!HHH", data[0], data[1], data[2]) + encode_name(data[3])
    raise ValueError(kind)


def answer(zone, packet):
    ident, flags = struct.unpack("!HH", packet[:4])
    name, qtype, _, question = read_question(packet)
    records = zone.get(name)
    rcode = 0 if records is not None else 3
    answers = b""
    count = 0
    for record in records or []:
        if TYPES[record[0]] == qtype:
            data = record_data(record[0], record[1:])
            answers += encode_name(name) + struct.pack("!HHIH", qtype, 1, 60, len(data)) + data
            count += 1
    reply_flags = 0x8400 | (flags & 0x0100) | 0x0080 | rcode  # QR, AA, RD as asked, RA
    header = struct.pack("!HHHHHH", ident, reply_flags, 1, count, 0, 0)
    return header + question + answers, name, qtype


def main():
    zone_file, address, port, log_file = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
    with open(zone_file) as f:
        zone = json.load(f)
    delays = zone.pop("delays", [])
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.bind((address, port))
    print("ready", flush=True)
    log = open(log_file, "a", buffering=1)
    lock = threading.Lock()

    def reply(packet, peer):
        try:
            data, name, qtype = answer(zone, packet)
        except (IndexError, struct.error, ValueError):
            return
        with lock:
            log.write("%s %d\n" % (name, qtype))
        for delay in delays:
            if name.endswith(delay["suffix"]):
                time.sleep(delay["ms"] / 1000.0)
                break
        sock.sendto(data, peer)

    while True:
        packet, peer = sock.recvfrom(4096)
        threading.Thread(target=reply, args=(packet, peer), daemon=True).start()


if __name__ == "__main__":
    main()
