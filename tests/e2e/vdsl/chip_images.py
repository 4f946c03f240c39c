#!/usr/bin/env python3
"""Images for the driver scenarios.

  chip_images.py firmware FILE         a boot image whose records fill X memory
                                       with a signature block, table starts and
                                       the word of entry 2.1.5 (0x00abcd)
  chip_images.py bindrv FILE [KIND]    a binary driver image that places 2.1 at
                                       0x1000; KIND good, badsig or malformed
"""
import struct
import sys

# X memory of the running chip as the binary driver image expects it.
X_WORDS = {
    0x100: [0x000102, 0xEA0400, 0, 0, 0x0300],  # version, end marker address, ..., pointer
    0x305: [0x474154],                           # signature behind the pointer
    0x400: [0xEAEAEA],                           # table end marker
    0x200: [0x1000, 0x2000, 0x0000],             # table start addresses
    0x1004: [0x00ABCD],                          # entry 2.1.5
}


def word24(v):
    return bytes([(v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF])


def firmware():
    out = b""
    for addr, words in X_WORDS.items():
        out += word24(0x010000 | addr) + word24(len(words)) + b"".join(word24(w) for w in words)
    return out + word24(0) + word24(0)  # end of data


def bindrv(kind):
    t, n = 3, 16
    w = [0] * (32 + t + t * n)
    w[3], w[4], w[6], w[7], w[8], w[9] = 0x000102, 0x0100, 0x0200, t, n, t
    w[32] = 2 << 29 | 1 << 4           # 2.1, continuation row 2
    w[33] = 3 << 29 | 0x20 << 8        # 3.1, stride 0x20
    w[34] = 7 << 29 | 31 << 24         # spare row
    for j in range(n):
        w[32 + t + j] = j + 1 if j < 6 else j + 2
        w[32 + t + n + j] = j + 1
        w[32 + t + 2 * n + j] = 18 if j == 0 else 19 + j
    if kind == "malformed":
        w[9] = 100                      # a directory that runs past the image
    img = struct.pack("<%dI" % len(w), *w)
    return (b"VRXS" if kind == "badsig" else b"VROS") + img[4:]


def main():
    if len(sys.argv) < 3 or sys.argv[1] not in ("firmware", "bindrv"):
        sys.exit(__doc__)
    data = firmware() if sys.argv[1] == "firmware" else bindrv(sys.argv[3] if len(sys.argv) > 3 else "good")
    with open(sys.argv[2], "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main()
