#!/usr/bin/python3
"""Crafted SMB1 messages (impacket's packet classes) and client crowds
against vxcs on 127.0.0.1: what is answered, what drops only its own
client, eviction from the 50 client slots and the per-message deadline.

usage: server_clients.py crafted|evict|trickle|held|served|hostile
"""
import socket
import struct
import sys
import time

from impacket import nmb, smb

HOST = "127.0.0.1"
SLOTS = 50


def fail(text):
    print("FAIL: " + text, flush=True)
    sys.exit(1)


def check(what, got, wanted):
    if got != wanted:
        fail("%s: got %r, wanted %r" % (what, got, wanted))
    print("ok: " + what, flush=True)


def connect(port=445):
    s = socket.create_connection((HOST, port), timeout=5)
    s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    return s


def session_request(port=139):
    """A port-139 connection past its session request to *SMBSERVER."""
    s = connect(port)
    req = nmb.NetBIOSSessionPacket()
    req.set_type(nmb.NETBIOS_SESSION_REQUEST)
    called = nmb.encode_name("*SMBSERVER", nmb.TYPE_SERVER, None)
    calling = nmb.encode_name("TESTER", nmb.TYPE_WORKSTATION, None)
    req.set_trailer(called + calling)
    s.sendall(req.rawData())
    answer = s.recv(4)
    check("positive session response on 139", answer[:1], b"\x82")
    return s


def frame(payload, claimed=None):
    n = len(payload) if claimed is None else claimed
    return struct.pack(">I", n) + payload


def smb1(command, flags=0, flags2=0, parameters=b"", data=b"", raw_block=None):
    p = smb.NewSMBPacket()
    p["Command"] = command
    p["Flags1"] = flags
    p["Flags2"] = flags2
    p["Mid"] = 0x4242
    if raw_block is None:
        c = smb.SMBCommand(command)
        c["Parameters"] = parameters
        c["Data"] = data
        p.addCommand(c)
        return p.getData()
    return p.getData()[:32] + raw_block


def read_message(s, timeout=3.0):
    """The next session message's payload; None when the peer closed, b"" on time-out."""
    s.settimeout(timeout)
    try:
        head = b""
        while len(head) < 4:
            part = s.recv(4 - len(head))
            if not part:
                return None
            head += part
        n = struct.unpack(">I", head)[0] & 0xFFFFFF
        body = b""
        while len(body) < n:
            part = s.recv(n - len(body))
            if not part:
                return None
            body += part
        return body
    except socket.timeout:
        return b""
    except ConnectionResetError:
        return None


def closed(s, timeout=3.0):
    s.settimeout(timeout)
    try:
        return s.recv(1) == b""
    except ConnectionResetError:
        return True
    except socket.timeout:
        return False


def status(answer):
    return struct.unpack("<I", answer[5:9])[0]


def flags2(answer):
    return struct.unpack("<H", answer[10:12])[0]


def ask_unsupported(s, where):
    for mode, flags, f2, want_status, want_flags, want_flags2 in (
        ("DOS", 0x00, 0x0000, 0xFFFF0002, 0x88, 0x0001),
        ("NT", 0x10, 0xC000, 0xC00000BB, 0x98, 0xC001),
    ):
        s.sendall(frame(smb1(0x0C, flags, f2)))
        a = read_message(s)
        if not a:
            fail("%s: no answer to code 0x0C in %s mode" % (where, mode))
        check("%s 0x0C %s mode length" % (where, mode), len(a), 35)
        check("%s 0x0C %s mode status" % (where, mode), hex(status(a)), hex(want_status))
        check("%s 0x0C %s mode Flags" % (where, mode), hex(a[9]), hex(want_flags))
        check("%s 0x0C %s mode Flags2" % (where, mode), hex(flags2(a)), hex(want_flags2))
        check("%s 0x0C %s mode mid" % (where, mode), a[30:32], b"\x42\x42")


def andx_block(next_command, offset):
    # ReadAndX's first words as the chain reads them; ByteCount 0.
    return struct.pack("<BBBH", 2, next_command, 0, offset) + b"\x00\x00"


def crafted():
    bystander = connect()
    s = connect()
    ask_unsupported(s, "445")

    s.sendall(b"\x85\x00\x00\x00")
    check("keep-alive unanswered", read_message(s, 0.5), b"")
    ask_unsupported(s, "445 after a keep-alive")

    for what, block in (
        ("a looping AndX offset", andx_block(0x2E, 32)),
        ("an AndX offset outside the message", andx_block(0x2B, 4000)),
        ("a WordCount past the message", b"\x09\x00\x00"),
    ):
        s.sendall(frame(smb1(0x2E, 0, 0x4000, raw_block=block)))
        a = read_message(s)
        if not a:
            fail("no answer to " + what)
        check(what, (len(a), hex(status(a))), (35, "0xc000000d"))

    for what, message in (
        ("a bad protocol id", frame(b"\xfcSMB" + bytes(40))),
        ("a 20-byte message", frame(b"\xffSMB" + bytes(16))),
        ("an oversized message", frame(smb1(0x2B, 0, 0x4000), claimed=70000)),
        ("an SMB2 message without the SMB2 core", frame(b"\xfeSMB" + bytes(60))),
    ):
        c = connect()
        c.sendall(message)
        check(what + " drops its client", closed(c), True)
        c.close()
    ask_unsupported(bystander, "445 bystander")

    n = session_request()
    ask_unsupported(n, "139")
    silent = connect(139)
    start = time.monotonic()
    check("a silent 139 client is closed", closed(silent, 6.0), True)
    took = time.monotonic() - start
    if took > 4.0:
        fail("the silent client was closed after %.1f s" % took)
    print("ok: closed after %.1f s" % took, flush=True)


def answered(s):
    s.sendall(frame(smb1(0x0C, 0, 0x4000)))
    a = read_message(s, 3.0)
    return bool(a) and status(a) == 0xC00000BB


def evict():
    # 49 clients that asked something and one bare connect: the 51st takes
    # the bare one's slot.
    active = [connect() for _ in range(SLOTS - 1)]
    for c in active:
        if not answered(c):
            fail("an active client was not answered")
    bare = connect()
    time.sleep(0.3)
    newcomer = connect()
    check("the bare connect goes first", closed(bare), True)
    check("the newcomer is served", answered(newcomer), True)
    check("the 49 active are answered", sum(answered(c) for c in active), SLOTS - 1)
    for c in active + [newcomer]:
        c.close()
    time.sleep(0.5)

    # 50 clients, the first one least recently active: the 51st evicts it.
    oldest = connect()
    check("the oldest asks first", answered(oldest), True)
    time.sleep(1.2)
    others = [connect() for _ in range(SLOTS - 1)]
    for c in others:
        answered(c)
    newcomer = connect()
    check("the least recently active is closed", closed(oldest), True)
    check("the 49 others are answered", sum(answered(c) for c in others), SLOTS - 1)
    check("the 51st is answered", answered(newcomer), True)


def trickle():
    slow = connect()
    other = connect()
    message = frame(smb1(0x0C, 0, 0x4000))
    slow.sendall(message[:6])
    time.sleep(0.2)
    start = time.monotonic()
    other.sendall(message)
    a = read_message(other, 8.0)
    took = time.monotonic() - start
    check("the other client is answered", bool(a), True)
    if took > 3.8:
        fail("the other client waited %.1f s behind a trickler" % took)
    print("ok: answered after %.1f s" % took, flush=True)
    check("the trickler is dropped", closed(slow, 2.0), True)


def held():
    """Connects a client and waits until the server closes it."""
    c = connect()
    check("a client before the restart", answered(c), True)
    print("connected", flush=True)
    check("the restart closed it", closed(c, 10.0), True)
    check("the listener still serves", answered(connect()), True)


def hostile():
    """Malformed, truncated and random messages, connect floods and slow
    clients at once; a well-behaved client is answered afterwards."""
    import random
    rnd = random.Random(7)
    slow = [connect(445 if i % 2 else 139) for i in range(6)]
    for c in slow:
        c.sendall(b"\x00")
    deadline = time.monotonic() + 4.0
    sent = 0
    while time.monotonic() < deadline:
        try:
            c = connect(rnd.choice((445, 139)))
            kind = rnd.randrange(5)
            if kind == 0:  # random SMB1 body behind a real header
                body = bytes(rnd.randrange(256) for _ in range(rnd.randrange(0, 120)))
                c.sendall(frame(smb1(rnd.randrange(256), rnd.randrange(256), rnd.randrange(65536), raw_block=body)))
            elif kind == 1:  # truncated: more claimed than sent
                c.sendall(frame(smb1(0x2B, 0, 0x4000), claimed=1000)[:40])
            elif kind == 2:  # random bytes, any session message type
                c.sendall(bytes(rnd.randrange(256) for _ in range(rnd.randrange(1, 64))))
            elif kind == 3:  # a chain of blocks pointing anywhere
                block = b"".join(andx_block(rnd.choice((0x2E, 0x2D, 0x73, 0x75, 0x2F)), rnd.randrange(65536))
                                 for _ in range(rnd.randrange(1, 6)))
                c.sendall(frame(smb1(0x2E, 0, 0x4000, raw_block=block)))
            # kind 4: a bare connect and close
            c.close()
            sent += 1
        except OSError:
            pass
    for c in slow:
        try:
            c.sendall(b"\x00")
        except OSError:
            pass
        c.close()
    print("ok: %d hostile clients" % sent, flush=True)
    check("a client is served after the storm", answered(connect()), True)


if __name__ == "__main__":
    {"crafted": crafted, "evict": evict, "trickle": trickle, "held": held, "hostile": hostile,
     "served": lambda: check("served", answered(connect()), True)}[sys.argv[1]]()
