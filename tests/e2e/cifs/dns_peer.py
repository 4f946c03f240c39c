#!/usr/bin/env python3
"""Scripted DNS or LLMNR peer for the name scenarios.

dns_peer.py dns ADDR OTHER   answers on ADDR:53; "spoofed..." names get an
                             answer with another id, one from OTHER:53 and
                             then the real one; "forged..." names only the
                             first two; "loop." names an answer whose name
                             points at itself, "cut." names one cut short,
                             "tiny." names A data of 2 bytes; anything else
                             an empty answer.
dns_peer.py llmnr ADDR NAME  joins 224.0.0.252 on ADDR's interface and
                             answers A questions for NAME with ADDR.
"""
import socket
import struct
import sys


def parse(query):
    qid, flags, qd = struct.unpack("!HHH", query[:6])
    pos, labels = 12, []
    while query[pos]:
        n = query[pos]
        labels.append(query[pos + 1:pos + 1 + n].decode())
        pos += 1 + n
    qtype, qclass = struct.unpack("!HH", query[pos + 1:pos + 5])
    return qid, ".".join(labels), qtype, query[12:pos + 5]


def response(qid, question, addresses, flags=0x8180):
    out = struct.pack("!HHHHHH", qid, flags, 1, len(addresses), 0, 0) + question
    for a in addresses:
        out += struct.pack("!HHHIH", 0xC00C, 1, 1, 60, 4) + socket.inet_aton(a)
    return out


def dns(addr, other):
    main = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    main.bind((addr, 53))
    side = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    side.bind((other, 53))
    print("ready", flush=True)
    while True:
        query, peer = main.recvfrom(1500)
        qid, name, qtype, question = parse(query)
        print("query", qtype, name, flush=True)
        first = name.split(".")[0]
        if qtype == 1 and first == "loop":
            out = response(qid, question, [])
            at = len(out)
            out = out[:6] + struct.pack("!H", 1) + out[8:]
            main.sendto(out + struct.pack("!HHHIH", 0xC000 | at, 1, 1, 60, 4) + b"\x0a\0\0\x01", peer)
        elif qtype == 1 and first == "cut":
            main.sendto(response(qid, question, ["10.0.0.1", "10.0.0.2"])[:-6], peer)
        elif qtype == 1 and first == "tiny":
            out = response(qid, question, [])
            out = out[:6] + struct.pack("!H", 1) + out[8:]
            main.sendto(out + struct.pack("!HHHIH", 0xC00C, 1, 1, 60, 2) + b"\x0a\0", peer)
        elif qtype == 1 and first.startswith(("spoofed", "forged")):
            main.sendto(response(qid ^ 0x5A5A, question, ["10.6.6.6"]), peer)
            side.sendto(response(qid, question, ["10.7.7.7"]), peer)
            if first.startswith("spoofed"):
                main.sendto(response(qid, question, ["10.0.0.42"]), peer)
        else:
            main.sendto(response(qid, question, []), peer)


def llmnr(addr, wanted):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.bind(("0.0.0.0", 5355))
    group = socket.inet_aton("224.0.0.252") + socket.inet_aton(addr)
    s.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP, group)
    print("ready", flush=True)
    while True:
        query, peer = s.recvfrom(1500)
        qid, name, qtype, question = parse(query)
        print("query", qtype, name, peer[0], flush=True)
        if name.lower() != wanted.lower():
            continue  # LLMNR: only the owner of a name answers
        s.sendto(response(qid, question, [addr] if qtype == 1 else [], flags=0x8000), peer)


if __name__ == "__main__":
    if sys.argv[1] == "dns":
        dns(sys.argv[2], sys.argv[3])
    else:
        llmnr(sys.argv[2], sys.argv[3])
