#!/usr/bin/python3
"""Raw datagrams to the control port: unknown codes, counts past the
datagram or the field, empty, short and over-long datagrams, and a flood of
junk nobody reads the answers of. After each, the host must still serve."""
import random
import socket
import struct
import sys

PORT = ("127.0.0.1", 4445)
FAILED, UNKNOWN = 0xFF07D1, 0xFF0003


def text(s):
    return struct.pack("<H", len(s)) + s.encode("utf-16-le") + b"\0\0"


def ask(payload, timeout=2.0):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.settimeout(timeout)
    try:
        s.sendto(payload, PORT)
        reply, _ = s.recvfrom(4096)
        return reply
    except socket.timeout:
        return None
    finally:
        s.close()


def status(payload):
    reply = ask(payload)
    if reply is None or len(reply) < 4:
        return None
    return struct.unpack_from("<I", reply)[0]


def serving(what):
    got = status(struct.pack("<IH", 5, 0))
    if got != 0:
        sys.exit(f"FAIL: not serving after {what}: {got}")


def check(what, got, wanted):
    if got != wanted:
        sys.exit(f"FAIL: {what}: got {got!r}, wanted {wanted!r}")
    print(f"== {what}: ok")


check("code 7777", ask(struct.pack("<I", 7777)), struct.pack("<I", UNKNOWN))
serving("code 7777")
check("count past the datagram", status(struct.pack("<IHH", 4, 0xFFFF, ord("M"))), FAILED)
add = struct.pack("<I", 3) + text("n" * 200) + text("/x") + text("") + struct.pack("<H", 0xFFFF) + text("")
check("count past the field", status(add), FAILED)
whole = struct.pack("<I", 3) + text("Cut") + text("/mnt/cut") + text("") + struct.pack("<H", 0xFFFF) + text("c")
check("a request cut inside any field",
      [cut for cut in range(4, len(whole)) if status(whole[:cut]) != FAILED], [])
check("the whole request", status(whole), 0)
check("empty datagram", ask(b"", timeout=0.5), None)
serving("the empty datagram")
check("short datagram", status(b"\x05\x00"), FAILED)
junk = struct.pack("<I", 3) + bytes(random.Random(1).randrange(256) for _ in range(1704))
check("1708-byte datagram answered", status(junk) is not None, True)
serving("a 1708-byte datagram")
check("1709-byte datagram", status(struct.pack("<IH", 5, 0) + b"\0" * 1703), FAILED)

# A flood whose answers nobody reads.
rng = random.Random(7)
flood = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
codes = [3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 101, 7777]
for i in range(3000):
    body = bytes(rng.randrange(256) for _ in range(rng.randrange(0, 64)))
    if rng.random() < 0.05:
        body = bytes(rng.randrange(256) for _ in range(rng.randrange(1000, 1800)))
    try:
        flood.sendto(struct.pack("<I", rng.choice(codes)) + body, PORT)
    except OSError:
        pass
flood.close()
for _ in range(20):
    if status(struct.pack("<IH", 5, 0)) == 0:
        break
serving("the flood")
print("datagrams ok")
