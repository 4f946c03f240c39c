#!/usr/bin/python3
"""Raw Ethernet frames for the link-layer tools' scenarios.

  l2inject.py send IF HEX...    sends each frame (hex, whole Ethernet frame)
  l2inject.py pado IF SECONDS   answers every PADI heard on IF with a set of
                                broken PADOs and one good one, for SECONDS
  l2inject.py pado-flood IF SECONDS
                                answers every PADI with offers under ever new
                                names and addresses until the next PADI
  l2inject.py flood IF SECONDS HEX...
                                sends the frames round and round for SECONDS,
                                at most $L2INJECT_RATE a second when set
"""
import os
import select
import socket
import struct
import sys
import time

PPPOE_DISC = 0x8863


def open_socket(ifname, proto=0):
    s = socket.socket(socket.AF_PACKET, socket.SOCK_RAW, socket.htons(proto))
    s.bind((ifname, proto))
    return s


def tag(t, value, declared=None):
    length = len(value) if declared is None else declared
    return struct.pack("!HH", t, length) + value


def pppoe(dst, src, payload, code=0x07, session=0, length=None, version=0x11):
    length = len(payload) if length is None else length
    return dst + src + struct.pack("!HBBHH", PPPOE_DISC, version, code, session, length) + payload


def broken_pados(dst, src):
    """Offers a probe must survive; none may add a feedback variable."""
    name = tag(0x0102, b"broken-ac")
    good_service = tag(0x0101, b"isp")
    out = [
        # Runts: no PPPoE header, or half of one.
        dst + src + struct.pack("!H", PPPOE_DISC),
        dst + src + struct.pack("!HBB", PPPOE_DISC, 0x11, 0x07),
        pppoe(dst, src, b"")[:19],
        # Header lies: length beyond the frame, 0, too long, wrong code/session/version.
        pppoe(dst, src, tag(0x0102, b"long-length") + good_service, length=1476),
        pppoe(dst, src, name, length=0),
        pppoe(dst, src, name, length=1477),
        pppoe(dst, src, name, code=0x65),
        pppoe(dst, src, name, session=7),
        pppoe(dst, src, name, version=0x21),
        # Tags past the length, and a tag header cut in two.
        pppoe(dst, src, tag(0x0102, b"past-end") + tag(0x0101, b"svc", declared=300)),
        pppoe(dst, src, tag(0x0102, b"cut-header") + b"\x01"),
        pppoe(dst, src, tag(0x0102, b"x" * 4, declared=0xFFFF)),
        # Two AC-Names; empty and full error tags.
        pppoe(dst, src, tag(0x0102, b"two-names") + tag(0x0102, b"second\nPPPOE_FORGED=1")),
        pppoe(dst, src, tag(0x0102, b"empty-errors") + tag(0x0201, b"") + tag(0x0202, b"") + tag(0x0203, b"")),
        pppoe(dst, src, tag(0x0102, b"full-error") + tag(0x0203, b"E" * 1400)),
        pppoe(dst, src, tag(0x0102, b"eol-length") + tag(0x0000, b"zz")),
        # Line ends and control bytes in names, services and error texts.
        pppoe(dst, src, tag(0x0102, b"inj\nPPPOE_FORGED=1\n") + tag(0x0101, b"s\x00\x1b[31m\rPPPOE_X=2")
              + tag(0x0201, b"err\nPPPOE_Y=3")),
        pppoe(dst, src, tag(0x0101, b"nameless")),
    ]
    # The good one last: the probe must still be listening.
    out.append(pppoe(dst, src, tag(0x0102, b"good-ac") + good_service + tag(0x0000, b"")))
    return out


def answer_padis(ifname, seconds):
    s = open_socket(ifname, PPPOE_DISC)
    own = s.getsockname()[4][:6]
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        ready, _, _ = select.select([s], [], [], max(0.0, end - time.monotonic()))
        if not ready:
            continue
        frame = s.recv(2048)
        if len(frame) < 20 or frame[15] != 0x09:
            continue
        for f in broken_pados(frame[6:12], own):
            s.send(f)


def flood_pados(ifname, seconds):
    s = open_socket(ifname, PPPOE_DISC)
    s.setblocking(False)
    end = time.monotonic() + seconds
    n = 0
    probe = None
    while time.monotonic() < end:
        try:
            frame = s.recv(2048)
            if len(frame) >= 20 and frame[15] == 0x09:
                probe = frame[6:12]
        except BlockingIOError:
            pass
        if probe is None:
            time.sleep(0.001)
            continue
        for _ in range(64):
            n += 1
            src = struct.pack("!HI", 0x0200, n)
            f = pppoe(probe, src, tag(0x0102, b"flood-%d" % n) + tag(0x0101, b"s" * 200) + tag(0x0203, b"e" * 900))
            try:
                s.send(f)
            except BlockingIOError:
                time.sleep(0.0005)
    print(n)


def flood(ifname, seconds, frames, rate=0):
    s = open_socket(ifname)
    start = time.monotonic()
    end = start + seconds
    n = 0
    while time.monotonic() < end:
        if rate:
            ahead = n / rate - (time.monotonic() - start)
            if ahead > 0:
                time.sleep(ahead)
        for f in frames:
            try:
                s.send(f)
                n += 1
            except (BlockingIOError, OSError):
                time.sleep(0.0005)
    print(n)


def main():
    if len(sys.argv) >= 3 and sys.argv[1] == "send":
        s = open_socket(sys.argv[2])
        for h in sys.argv[3:]:
            s.send(bytes.fromhex(h))
    elif len(sys.argv) == 4 and sys.argv[1] == "pado":
        answer_padis(sys.argv[2], float(sys.argv[3]))
    elif len(sys.argv) == 4 and sys.argv[1] == "pado-flood":
        flood_pados(sys.argv[2], float(sys.argv[3]))
    elif len(sys.argv) >= 5 and sys.argv[1] == "flood":
        rate = float(os.environ.get("L2INJECT_RATE", "0"))
        flood(sys.argv[2], float(sys.argv[3]), [bytes.fromhex(h) for h in sys.argv[4:]], rate)
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
