#!/usr/bin/python3
"""A DNS server that answers every A query with one address (and every other query with no
record), for a lab whose SIP server is given by name, as the real service is.

    dns_stub.py LISTEN_ADDRESS ANSWER_ADDRESS
"""

import socket
import struct
import sys


def main():
    listen, answer = sys.argv[1], socket.inet_aton(sys.argv[2])
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind((listen, 53))
    print("dns stub listening on %s:53" % listen, flush=True)
    while True:
        query, peer = s.recvfrom(512)
        if len(query) < 17:
            continue
        tid = struct.unpack(">H", query[:2])[0]
        end = 12
        while end < len(query) and query[end]:
            end += query[end] + 1
        question = query[12:end + 5]
        qtype = struct.unpack(">H", question[-4:-2])[0]
        name = ".".join(p.decode("latin-1") for p in _labels(question))
        print("query %s type %d" % (name, qtype), flush=True)
        records = b""
        if qtype == 1:
            records = b"\xc0\x0c" + struct.pack(">HHIH", 1, 1, 60, 4) + answer
        reply = struct.pack(">HHHHHH", tid, 0x8180, 1, 1 if records else 0, 0, 0) + question + records
        s.sendto(reply, peer)


def _labels(question):
    i = 0
    while i < len(question) and question[i]:
        yield question[i + 1:i + 1 + question[i]]
        i += question[i] + 1


if __name__ == "__main__":
    main()
