#!/usr/bin/python3
"""Scripted upstream DNS servers for the proxy's scenarios.

upstream_peer.py LOGFILE ADDR:PORT:MODE...

Each ADDR:PORT listens on UDP (and TCP) and answers every query the way its
MODE says; every query received is logged as "MODE NAME TYPE OPTION" (OPTION
the hex of a TYPE 65517 record in the additional section, or "-").

Modes: good (A 192.0.2.80), fast, slow (the same after 20 and 100 ms), safe
(A 192.0.2.81), drop (never), delay (after 1500 ms), servfail, empty
(NOERROR without records), nx (NXDOMAIN with an SOA), tc (UDP: TC and
nothing else; TCP: A 192.0.2.99), wrongid (another id), spoof (A 6.6.6.6
from another port at once, the good answer 100 ms later), reflect (the query
itself back to the sender), loop (the query sent on to the proxy's port 53),
slow5 (the good answer after 5 s). Malformed answers (A 6.6.6.6 inside):
ptrloop (an owner pointing at itself), ptrfwd (an owner pointing forward),
rdlen (a record length past the end), count (more answers counted than
there are), longname (an owner of 261 octets through a pointer).

Every UDP query is also logged in LOGFILE.ids as "MODE ID SOURCEPORT".

With UPSTREAM_PEER_UDP_ONLY=1 in the environment no TCP port is opened, so
that a proxy listening on the same port on every address can start beside it.
"""
import heapq
import os
import select
import socket
import struct
import sys
import time


def parse_query(msg):
    off, labels = 12, []
    while msg[off]:
        n = msg[off]
        labels.append(msg[off + 1:off + 1 + n].decode("ascii", "replace"))
        off += 1 + n
    qtype, _ = struct.unpack("!HH", msg[off + 1:off + 5])
    qend = off + 5
    _, _, qd, an, ns, ar = struct.unpack("!HHHHHH", msg[:12])
    option = "-"
    # The additional records of a query follow the question directly.
    p = qend
    for _ in range(an + ns + ar):
        if msg[p] == 0:
            p += 1
        else:
            while msg[p] and msg[p] < 0xC0:
                p += 1 + msg[p]
            p += 2 if msg[p] >= 0xC0 else 1
        rtype, _, _, rdlen = struct.unpack("!HHIH", msg[p:p + 10])
        if rtype == 65517:
            option = msg[p + 10:p + 10 + rdlen].hex()
        p += 10 + rdlen
    return ".".join(labels) + ".", qtype, qend, option


def answer(msg, qend, rcode=0, addr=None, tc=False, soa=False, qid=None):
    qid = struct.unpack("!H", msg[:2])[0] if qid is None else qid
    flags = 0x8000 | (struct.unpack("!H", msg[2:4])[0] & 0x0100) | 0x0080 | rcode | (0x0200 if tc else 0)
    qtype = struct.unpack("!H", msg[qend - 4:qend - 2])[0]
    records = b""
    an = ns = 0
    if addr and qtype == 1:
        records += b"\xc0\x0c" + struct.pack("!HHIH", 1, 1, 300, 4) + socket.inet_aton(addr)
        an = 1
    if soa:
        rdata = b"\x02ns\xc0\x0c\x04host\xc0\x0c" + struct.pack("!IIIII", 1, 3600, 600, 86400, 300)
        records += b"\xc0\x0c" + struct.pack("!HHIH", 6, 1, 300, len(rdata)) + rdata
        ns = 1
    return struct.pack("!HHHHHH", qid, flags, 1, an, ns, 0) + msg[12:qend] + records


def _longname(a, qend):
    # A CNAME to a 200-octet name, then a record whose owner is a 60-octet
    # label in front of that name by pointer: 261 octets.
    target = b"".join(bytes([50]) + b"t" * 50 for _ in range(3)) + bytes([46]) + b"t" * 46 + b"\0"
    cname = b"\xc0\x0c" + struct.pack("!HHIH", 5, 1, 300, len(target)) + target
    owner = bytes([60]) + b"x" * 60 + struct.pack("!H", 0xC000 | (qend + 12))
    rec = owner + struct.pack("!HHIH", 1, 1, 300, 4) + bytes([6, 6, 6, 6])
    return a[:6] + struct.pack("!H", 2) + a[8:qend] + cname + rec


MALFORMED = {
    "ptrloop": lambda a, qend: a[:qend] + struct.pack("!H", 0xC000 | qend) + a[qend + 2:],
    "ptrfwd": lambda a, qend: a[:qend] + struct.pack("!H", 0xC000 | (qend + 20)) + a[qend + 2:],
    "rdlen": lambda a, qend: a[:qend + 10] + struct.pack("!H", 200) + a[qend + 12:],
    "count": lambda a, qend: a[:6] + struct.pack("!H", 3) + a[8:],
    "longname": _longname,
}


def main():
    log = open(sys.argv[1], "a", buffering=1)
    ids = open(sys.argv[1] + ".ids", "a", buffering=1)
    socks = {}
    for entry in sys.argv[2:]:
        addr, port, mode = entry.rsplit(":", 2)
        u = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        u.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        u.bind((addr, int(port)))
        other = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        other.bind((addr, 0))
        socks[u] = ("udp", mode, other)
        if os.environ.get("UPSTREAM_PEER_UDP_ONLY") != "1":
            t = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
            t.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            t.bind((addr, int(port)))
            t.listen(16)
            socks[t] = ("listen", mode, other)
    later = []  # (when, seq, sock, data, dest)
    seq = 0
    print("ready", flush=True)
    while True:
        wait = max(0.0, later[0][0] - time.monotonic()) if later else 1.0
        ready, _, _ = select.select(list(socks), [], [], wait)
        now = time.monotonic()
        while later and later[0][0] <= now:
            _, _, s, data, dest = heapq.heappop(later)
            s.sendto(data, dest)
        for s in ready:
            kind, mode, other = socks[s]
            if kind == "listen":
                c, _ = s.accept()
                socks[c] = ("tcp", mode, other)
                continue
            if kind == "udp":
                msg, src = s.recvfrom(65535)
            else:
                data = b""
                try:
                    while len(data) < 2 or len(data) < 2 + struct.unpack("!H", data[:2])[0]:
                        chunk = s.recv(65535)
                        if not chunk:
                            break
                        data += chunk
                except OSError:
                    pass
                del socks[s]
                if len(data) < 14:
                    s.close()
                    continue
                msg, src = data[2:], None
            try:
                name, qtype, qend, option = parse_query(msg)
            except (IndexError, struct.error):
                continue
            log.write("%s %s %d %s %s\n" % (mode, name, qtype, option, kind))
            if kind == "udp":
                ids.write("%s %d %d\n" % (mode, struct.unpack("!H", msg[:2])[0], src[1]))

            def reply(data, delay=0.0, via=None):
                nonlocal seq
                if kind == "tcp":
                    s.sendall(struct.pack("!H", len(data)) + data)
                    s.close()
                elif delay:
                    seq += 1
                    heapq.heappush(later, (now + delay, seq, via or s, data, src))
                else:
                    (via or s).sendto(data, src)

            if mode == "good":
                reply(answer(msg, qend, addr="192.0.2.80"))
            elif mode == "fast":
                reply(answer(msg, qend, addr="192.0.2.80"), 0.02)
            elif mode == "slow":
                reply(answer(msg, qend, addr="192.0.2.80"), 0.1)
            elif mode == "safe":
                reply(answer(msg, qend, addr="192.0.2.81"))
            elif mode == "delay":
                reply(answer(msg, qend, addr="192.0.2.80"), 1.5)
            elif mode == "servfail":
                reply(answer(msg, qend, rcode=2))
            elif mode == "empty":
                reply(answer(msg, qend))
            elif mode == "nx":
                reply(answer(msg, qend, rcode=3, soa=True))
            elif mode == "tc":
                reply(answer(msg, qend, addr="192.0.2.99") if kind == "tcp" else answer(msg, qend, tc=True))
            elif mode == "wrongid":
                qid = struct.unpack("!H", msg[:2])[0] ^ 0x5555
                reply(answer(msg, qend, addr="6.6.6.6", qid=qid))
            elif mode == "spoof":
                reply(answer(msg, qend, addr="6.6.6.6"), via=other)
                reply(answer(msg, qend, addr="192.0.2.80"), 0.1)
            elif mode == "reflect":
                reply(bytes(msg))
            elif mode == "loop":
                other.sendto(bytes(msg), ("127.0.0.1", 53))
            elif mode == "slow5":
                reply(answer(msg, qend, addr="192.0.2.80"), 5.0)
            elif mode in MALFORMED:
                reply(MALFORMED[mode](answer(msg, qend, addr="6.6.6.6"), qend))
            elif kind == "tcp":
                s.close()


if __name__ == "__main__":
    main()
