#!/usr/bin/env python3
"""Checks the boot frames of a capture against the boot loader's frame table.

usage: boot_frames.py CAPTURE PACKAGE IMAGE_ID OWN_MAC MGMT_MAC BOOT_MAC

The expected frames are built here from the package's image, independently
of the shell: start, init, one data frame per record, the end mark, finish
and stop. The first boot of the capture must match them byte for byte.
"""
import struct
import sys


def frames(path):
    with open(path, "rb") as f:
        data = f.read()
    magic = struct.unpack("<I", data[:4])[0]
    order = "<" if magic in (0xA1B2C3D4, 0xA1B23C4D) else ">"
    at = 24
    while at + 16 <= len(data):
        _, _, caplen, _ = struct.unpack(order + "IIII", data[at:at + 16])
        yield data[at + 16:at + 16 + caplen]
        at += 16 + caplen


def mac(text):
    return bytes(int(x, 16) for x in text.split(":"))


def word(b, at):
    return b[at] << 16 | b[at + 1] << 8 | b[at + 2]


def pad(frame):
    return frame + bytes(max(0, 60 - len(frame)))


def expected(package, image_id, own, mgmt, boot):
    with open(package, "rb") as f:
        pkg = f.read()
    start, end = word(pkg, 39 + 3 * (image_id - 1)), word(pkg, 42 + 3 * (image_id - 1))
    image = pkg[start:end]
    out = [pad(mgmt + own + bytes([0, 5, 0, 0, 2, 3, 4, 0]))]
    out.append(pad(boot + own + bytes([0, 7, 4, 1, 0]) + struct.pack(">I", len(image))))
    seq, at = 2, 0
    # The image's last byte counts towards its length but belongs to no word.
    usable = len(image) - 1
    while True:
        load, n = word(image, at), word(image, at + 3)
        at += 6
        if at >= usable:
            out.append(pad(boot + own + bytes([0, 9, 4, seq, 1]) + image[at - 6:at - 3] + bytes([0, 0, 0])))
            seq = (seq + 1) & 0xFF
            break
        body = bytes([4, seq, 1]) + image[at - 6:at] + image[at:at + 3 * n]
        out.append(pad(boot + own + struct.pack(">H", len(body)) + body))
        at += 3 * n
        seq = (seq + 1) & 0xFF
    out.append(pad(boot + own + bytes([0, 3, 4, seq, 2])))
    out.append(pad(boot + own + bytes([0, 1, 2])))
    return out


def main():
    capture, package, image_id, own, mgmt, boot = sys.argv[1:7]
    own, mgmt, boot = mac(own), mac(mgmt), mac(boot)
    want = expected(package, int(image_id), own, mgmt, boot)
    # Boot frames from our side: an 802.3 length where the ethertype would be.
    got = [f for f in frames(capture) if len(f) >= 14 and f[6:12] == own and (f[12] << 8 | f[13]) < 0x600]
    first = next((i for i, f in enumerate(got) if f[:6] == mgmt), None)
    if first is None:
        print("no start frame in the capture")
        return 1
    got = got[first:first + len(want)]
    for i, (g, w) in enumerate(zip(got, want)):
        if g != w:
            print(f"frame {i} differs:\n got  {g.hex()}\n want {w.hex()}")
            return 1
    if len(got) != len(want):
        print(f"{len(got)} boot frames captured, {len(want)} expected")
        return 1
    print(f"{len(want)} boot frames match")
    return 0


if __name__ == "__main__":
    sys.exit(main())
