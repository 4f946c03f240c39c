#!/usr/bin/python3
"""impacket against vxcs's SMB1 session commands on 127.0.0.1: logons of
both forms and tree connects through impacket's client, and crafted
messages for what a client library never sends.

usage: smb1_session_clients.py USER PASSWORD SHARE SHARE_DIR [plain|signed|crowd|hostile]
"""
import hashlib
import io
import os
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from server_clients import check, connect, fail, frame, read_message, smb1, status  # noqa: E402

from impacket import smb  # noqa: E402
from impacket.smbconnection import SMBConnection  # noqa: E402

USER, PASSWORD, SHARE, SHARE_DIR = sys.argv[1:5]
MODE = sys.argv[5] if len(sys.argv) > 5 else "plain"
NT = 0xC801  # unicode, NT status, extended security, long names


def dialects(*names):
    return b"".join(b"\x02" + n + b"\x00" for n in names)


def negotiate(s, *names, flags2=NT):
    s.sendall(frame(smb1(0x72, 0x18, flags2, data=dialects(*names))))
    a = read_message(s)
    if not a:
        fail("no answer to a negotiate of %r" % (names,))
    return a


def words(a):
    return a[32], a[33:33 + 2 * a[32]]


class PlainSMB(smb.SMB):
    """A client that negotiates without extended security: the 8-byte
    challenge and the 13-word logon."""

    def neg_session(self, extended_security=True, negPacket=None):
        return super().neg_session(False, negPacket)


def library_logons():
    for extended in (True, False):
        c = (smb.SMB if extended else PlainSMB)("*SMBSERVER", "127.0.0.1", sess_port=445)
        if extended:
            c.login(USER, PASSWORD)
        else:
            c.login_standard(USER, PASSWORD)
        tid = c.connect_tree("\\\\*SMBSERVER\\" + SHARE)
        check("impacket %s logon and tree connect" % ("extended" if extended else "13-word"), tid >= 10, True)
        c.disconnect_tree(tid)
        c.logoff()
        c.get_socket().close()
    c = smb.SMB("*SMBSERVER", "127.0.0.1", sess_port=445)
    try:
        c.login(USER, PASSWORD + "x")
        fail("a wrong password was taken")
    except smb.SessionError as e:
        check("a wrong password refused", hex(e.get_error_code()), hex(0xC000006D))
    c.get_socket().close()


def crafted():
    s = connect()
    a = negotiate(s, b"PC NETWORK PROGRAM 1.0", b"LANMAN1.0")
    count, w = words(a)
    check("only old dialects: WordCount 1", count, 1)
    check("only old dialects: DialectIndex 0xFFFF", w, b"\xff\xff")
    # No session was made: a second negotiate is served.
    a = negotiate(s, b"NT LM 0.12", b"LANMAN1.0", b"NT LM 0.12")
    count, w = words(a)
    check("NT LM 0.12 twice: WordCount 17", count, 17)
    check("NT LM 0.12 twice: the second index", struct.unpack("<H", w[:2])[0], 2)
    check("extended security capabilities", hex(struct.unpack("<I", w[19:23])[0]), hex(0x8000E07C))
    a = negotiate(s, b"NT LM 0.12")
    check("a second negotiate refused", hex(status(a)), hex(0xC0000001))
    s.close()

    for offered, revision in (((b"NT LM 0.12", b"SMB 2.???"), 0x02FF), ((b"NT LM 0.12", b"SMB 2.002"), 0x0202)):
        s = connect()
        a = negotiate(s, *offered)
        check("%r answered in SMB2" % (offered[-1],), (a[:4], struct.unpack("<H", a[64 + 4:64 + 6])[0]),
              (b"\xfeSMB", revision))
        s.close()

    s = connect()
    a = negotiate(s, b"NT LM 0.12", flags2=0x4001)
    count, w = words(a)
    check("plain negotiate: ChallengeLength 8", w[33], 8)
    check("plain negotiate: capabilities", hex(struct.unpack("<I", w[19:23])[0]), hex(0x0000E07C))
    s.close()

    s = connect()
    # A dialect without its terminator runs out of the message.
    s.sendall(frame(smb1(0x72, 0x18, NT, data=b"\x02NT LM 0.12")))
    a = read_message(s)
    check("an unterminated dialect: invalid parameter", hex(status(a)), hex(0xC000000D))
    negotiate(s, b"NT LM 0.12")
    # SESSION_SETUP (13 words) chained with WRITE_ANDX.
    setup = struct.pack("<BBBHHHHIHHII", 13, 0x2F, 0, 32 + 31, 65535, 2, 0, 0, 0, 0, 0, 0x40) + b"\x02\x00\x00\x00"
    write = struct.pack("<BBBHH", 2, 0xFF, 0, 0, 0)
    s.sendall(frame(smb1(0x73, 0x18, NT, raw_block=setup + write)))
    a = read_message(s)
    check("session setup chained with WRITE_ANDX refused", hex(status(a)), hex(0xC0000001))
    # ECHO: count 3 answered once, count 0 not at all.
    s.sendall(frame(smb1(0x2B, 0x18, NT, parameters=struct.pack("<H", 3), data=b"ping")))
    a = read_message(s)
    check("echo answered", hex(status(a)), hex(0))
    check("echo SequenceNumber 1 and the data", (a[33:35], a[37:41]), (b"\x01\x00", b"ping"))
    check("echo answered only once", read_message(s, 0.5), b"")
    s.sendall(frame(smb1(0x2B, 0x18, NT, parameters=struct.pack("<H", 0), data=b"ping")))
    check("echo count 0 unanswered", read_message(s, 0.5), b"")
    s.sendall(frame(smb1(0x2B, 0x18, NT, parameters=struct.pack("<H", 1), data=b"pong")))
    check("echo after the silent one", read_message(s)[37:41], b"pong")
    s.close()


def files():
    """SMBConnection over SMB1: put, list and get."""
    c = SMBConnection("*SMBSERVER", "127.0.0.1", preferredDialect=smb.SMB_DIALECT)
    c.login(USER, PASSWORD)
    payload = bytes(range(256)) * 1024
    c.putFile(SHARE, "impacket.bin", io.BytesIO(payload).read)
    names = [f.get_longname() for f in c.listPath(SHARE, "*")]
    check("listPath shows the file", "impacket.bin" in names, True)
    got = io.BytesIO()
    c.getFile(SHARE, "impacket.bin", got.write)
    check("getFile gives what putFile sent", hashlib.md5(got.getvalue()).hexdigest(),
          hashlib.md5(payload).hexdigest())
    c.deleteFile(SHARE, "impacket.bin")
    c.logoff()


def session(signed=False):
    c = smb.SMB("*SMBSERVER", "127.0.0.1", sess_port=445)
    c.login(USER, PASSWORD)
    check("signing %s" % ("on" if signed else "off"), bool(c._SignatureEnabled), signed)
    return c, c.connect_tree("\\\\*SMBSERVER\\" + SHARE)


def status_of(answer):
    return struct.unpack("<I", answer.getData()[5:9])[0]


def outside_offsets():
    """TRANSACTION2 whose parameter and data blocks lie outside the message."""
    c, tid = session()
    for what, parameter_offset, data_offset in (("parameters", 0xFFF0, 68), ("data", 68, 0xFFF0)):
        p = smb.NewSMBPacket()
        p["Tid"] = tid
        cmd = smb.SMBCommand(smb.SMB.SMB_COM_TRANSACTION2)
        cmd["Parameters"] = struct.pack("<HHHHBBHIHHHHHBBH", 4, 0, 10, 100, 0, 0, 0, 0, 0, 4, parameter_offset,
                                        0, data_offset, 1, 0, 1)
        cmd["Data"] = b"\x00" + b"\x04\x01\x00\x00"
        p.addCommand(cmd)
        c.sendSMB(p)
        check("%s outside the message" % what, hex(status_of(c.recvSMB())), hex(0xC000000D))
    c.logoff()


def signed_large_read():
    """A signed READ_ANDX asking MaxCountHigh 1: the answer stays within
    the buffer (the server runs under ASan) and is signed."""
    c, tid = session(signed=True)
    fid = c.nt_create_andx(tid, "big.bin")
    p = smb.NewSMBPacket()
    p["Tid"] = tid
    cmd = smb.SMBCommand(smb.SMB.SMB_COM_READ_ANDX)
    cmd["Parameters"] = smb.SMBReadAndX_Parameters()
    cmd["Parameters"]["Fid"] = fid
    cmd["Parameters"]["Offset"] = 0
    cmd["Parameters"]["MaxCount"] = 0xFFFF
    cmd["Parameters"]["_reserved"] = 1
    p.addCommand(cmd)
    answer = c.read_andx(tid, fid, smb_packet=p, wait_answer=0)
    check("signed large read answered", hex(status_of(answer)), hex(0))
    words = smb.SMBReadAndXResponse_Parameters(smb.SMBCommand(answer["Data"][0])["Parameters"])
    count = words["DataCount"] + 0x10000 * words["DataCount_Hi"]
    check("signed large read within the buffer", 0 < count and words["DataOffset"] + count <= 65664, True)
    check("and its bytes", answer.getData()[words["DataOffset"]:words["DataOffset"] + 16], b"\x5a" * 16)
    c.close(tid, fid)
    c.logoff()


def crowd():
    """50 logged-on clients over 445 and 139, then a 51st: the least
    recently active one goes, the others keep working."""
    clients = []
    for i in range(50):
        c = smb.SMB("*SMBSERVER", "127.0.0.1", sess_port=445 if i % 2 == 0 else 139)
        c.login(USER, PASSWORD)
        clients.append((c, c.connect_tree("\\\\*SMBSERVER\\" + SHARE)))
    for c, tid in clients[1:]:
        c.echo("awake", 1)
    last = smb.SMB("*SMBSERVER", "127.0.0.1", sess_port=445)
    last.login(USER, PASSWORD)
    check("the 51st logs on", last.connect_tree("\\\\*SMBSERVER\\" + SHARE) >= 10, True)
    try:
        clients[0][0].echo("gone?", 1)
        fail("the least recently active client was kept")
    except Exception:
        print("ok: the least recently active client went", flush=True)
    for c, tid in clients[1:]:
        c.echo("still here", 1)
        c.disconnect_tree(tid)
    print("ok: 49 clients kept working", flush=True)


def hostile():
    """A logged-on client sends mutated SMB1 commands of every kind: each is
    answered or its connection dropped, and a fresh client is served after."""
    import random
    rnd = random.Random(7)
    commands = (0x00, 0x02, 0x03, 0x04, 0x05, 0x0A, 0x0B, 0x0F, 0x11, 0x12, 0x24, 0x25, 0x2B, 0x2D, 0x2E, 0x2F,
                0x32, 0x70, 0x71, 0x74, 0x75, 0xA0, 0xA2, 0xC0, 0xC2)
    sent = dropped = 0
    c, tid = session()
    for _ in range(3000):
        words = bytes(rnd.randrange(256) for _ in range(2 * rnd.choice((0, 1, 2, 3, 4, 5, 8, 10, 12, 14, 15, 19, 24))))
        data = bytes(rnd.randrange(256) for _ in range(rnd.randrange(64)))
        p = smb.NewSMBPacket()
        p["Tid"] = tid
        p["Flags2"] = rnd.choice((0xC801, 0x0001, 0x4001))
        cmd = smb.SMBCommand(rnd.choice(commands))
        cmd["Parameters"] = words
        cmd["Data"] = data
        p.addCommand(cmd)
        try:
            c.sendSMB(p)
            sent += 1
            c.get_socket().settimeout(0.2)
            c.recvSMB()
        except Exception:
            dropped += 1
            try:
                c.get_socket().close()
            except Exception:
                pass
            c, tid = session()
    print("ok: %d mutated commands, %d connections ended" % (sent, dropped), flush=True)
    fresh, _ = session()
    fresh.echo("after", 1)
    print("ok: a fresh client is served after them", flush=True)


if MODE == "plain":
    library_logons()
    crafted()
    files()
    outside_offsets()
elif MODE == "signed":
    with open(os.path.join(SHARE_DIR, "big.bin"), "wb") as f:
        f.write(b"\x5a" * 300000)
    signed_large_read()
elif MODE == "hostile":
    hostile()
else:
    crowd()
print("all ok", flush=True)
