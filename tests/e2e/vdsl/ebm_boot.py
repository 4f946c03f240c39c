#!/usr/bin/env python3
"""Boots the simulated chip with boot frames, as the shell's chip boot does.

  ebm_boot.py IFACE IMAGE   exit 0 when the chip acknowledged every frame
"""
import socket
import sys

ETH_P = 0x6120
MGMT_MAC = bytes.fromhex("0200eb000000")
BOOT_MAC = bytes.fromhex("0200ebb00700")


def main():
    iface, image = sys.argv[1], open(sys.argv[2], "rb").read()
    s = socket.socket(socket.AF_PACKET, socket.SOCK_RAW, socket.htons(ETH_P))
    s.bind((iface, ETH_P))
    s.settimeout(1.0)
    own = s.getsockname()[4]

    def exchange(dst, body, check):
        frame = dst + own + len(body).to_bytes(2, "big") + body
        s.send(frame.ljust(60, b"\0"))
        while True:
            r = s.recv(1600)
            if r[12:14] == b"\x61\x20" and check(r):
                return

    exchange(MGMT_MAC, bytes([0, 0, 2, 3, 4, 0]) + bytes(6),
             lambda r: r[16] == 0x80 and r[18:24] == BOOT_MAC)
    exchange(BOOT_MAC, bytes([4, 1, 0]) + len(image).to_bytes(4, "big"),
             lambda r: r[16] == 0x84 and r[17] == 1 and r[18] & 3 == 0)
    seq, pos = 2, 0
    while True:
        header = image[pos:pos + 6]
        n = int.from_bytes(header[3:6], "big")
        pos += 6
        end = pos >= len(image)
        words = b"" if end else image[pos:pos + 3 * n]
        pos += len(words)
        exchange(BOOT_MAC, bytes([4, seq, 1]) + header + words,
                 lambda r, q=seq: r[16] == 0x84 and r[17] == q and r[18] & 3 == 0)
        seq = (seq + 1) & 0xFF
        if end:
            break
    exchange(BOOT_MAC, bytes([4, seq, 2]), lambda r, q=seq: r[16] == 0x84 and r[17] == q and r[18] & 3 == 0)
    exchange(BOOT_MAC, bytes([2]), lambda r: r[16] == 0x82 and r[17] & 3 == 0)


if __name__ == "__main__":
    try:
        main()
    except socket.timeout:
        sys.exit("ebm_boot: the chip did not answer")
