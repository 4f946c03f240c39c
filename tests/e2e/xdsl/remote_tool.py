#!/usr/bin/env python3
"""Checks of the remote-tool service, run by remote_tool.sh inside its
namespace with the service listening on 5001.

usage: remote_tool.py CHIPSIMCTL MGT ADDR_2.1.9 ADDR_2.1.124 SCRATCH
"""
import os
import socket
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from remote_tool_client import Closed, Tool, connect  # noqa: E402

chipsimctl, mgt, a219, a2124, scratch = sys.argv[1:6]
a219, a2124 = int(a219, 16), int(a2124, 16)
failures = 0


def check(what, ok, detail=""):
    global failures
    print(("ok   " if ok else "FAIL ") + what, flush=True)
    if not ok:
        failures += 1
        if detail:
            print("     " + str(detail))


def equal(what, got, want):
    check(what, got == want, f"got  {got!r}\nwant {want!r}")


def bench(*args):
    return subprocess.run([chipsimctl, mgt, *args], check=True, capture_output=True, text=True).stdout.strip()


def key(name):
    p = subprocess.run(["/bin/cfgmgr", "-r", name], capture_output=True, text=True)
    return p.stdout.strip() if p.returncode == 0 else None


t = connect()

# Chip words: X at 2.1.9's address; an unknown selector answers 0xFF.
bench("poke", "x", hex(a219), "0x123456")
equal("opcode 1 reads an X word", t.read_word(1, a219), b"\x00\x12\x34\x56")
equal("opcode 2 writes an X word", t.write_word(1, a219, 0x0a0b0c), b"\x00\x01")
equal("... which the chip holds", bench("peek", "x", hex(a219)), "ok 0a0b0c")
equal("unknown selector 0x41", t.read_word(1, a219, selector=0x41), b"\xff\x01" + a219.to_bytes(3, "big")[:2])
equal("unknown selector on a write", t.write_word(1, a219, 0, selector=0xc0), b"\xff\x01")
equal("the word is untouched", bench("peek", "x", hex(a219)), "ok 0a0b0c")

# Logic MIB entries.
equal("opcode 3 of one word", t.read_mib(1, "2.1.9"), b"\x00\x08\x00" + b"0a0b0c" + b"\x00")
bench("poke", "x", hex(a2124), "0x000005")
bench("poke", "x", hex(a2124 + 1), "0x000080")
bench("poke", "x", hex(a2124 + 2), "0x0000ff")
equal("opcode 3 of three words", t.read_mib(1, "2.1.124"), b"\x00\x14\x00" + b"0000050000800000ff" + b"\x00")
got = t.read_mib(1, "9.9.9")
equal("opcode 3 of an unknown entry: length 2, status, echo", (got[:2], len(got)), (b"\x00\x02", 4))
check("... with a failure status", got[2] != 0, got)
equal("opcode 4 writes", t.write_mib(1, "2.1.9", "abcdef"), b"\x00\x01")
equal("... and the chip holds it", bench("peek", "x", hex(a219)), "ok abcdef")
equal("opcode 3 on port 2", t.read_mib(2, "2.1.9"), b"\x00\x02\xfd.")
equal("opcode 9 on port 1", t.check_header(1), b"\x01\x01")
equal("opcode 9 on port 2", t.check_header(2), b"\xfd\x02")

# No reply to opcodes 0 and 10 or an empty frame; the next request is served.
t.send(b"\x00\x01\x00" + b"\x00\x02\x0a\x01" + b"\x00\x00")
check("opcodes 0, 10 and length 0 answer nothing", t.silent())
equal("... and the next request is served", t.check_header(1), b"\x01\x01")

# A length of 2000 is read as 1080: the rest starts the next request.
payload = b"\x0a" + b"\x55" * 1079
rest = Tool.frame(bytes([9, 1])) + b"\x00\x00" * 458
t.send(b"\x07\xd0" + payload + rest)
equal("2000 read as 1080, the rest as the next frames", t.recv(2), b"\x01\x01")
check("... and nothing more", t.silent())
# 0x0080 is 128: an opcode 3 whose OID text ends at the received bytes.
t.send(b"\x00\x80" + b"\x03\x01" + b"2.1.9\0".ljust(126, b"\0"))
equal("length 0x0080 read as 128", t.recv(10), b"\x00\x08\x00abcdef\x00")

# Command lines: "null", "quit" (110), the connection stays open.
equal("opcode 6 null", t.command("null"), b"\x00n")
equal("opcode 6 quit replies 0xFF", t.command("quit"), b"\xffq")
equal("... and the connection stays", t.check_header(1), b"\x01\x01")

# Files both ways: 254 bytes are two full frames and one of count 0.
body = bytes(range(254))
with open(os.path.join(scratch, "down.bin"), "wb") as f:
    f.write(body)
first, frames, data, final = t.get_file(os.path.join(scratch, "down.bin") + " trailing words")
equal("opcode 7 of 254 bytes: counts", [f[0] for f in frames], [127, 127, 0])
equal("... every frame 128 bytes", {len(f) for f in frames}, {128})
equal("... the data", data, body)
equal("... the replies", (first, final), (b"\x00\xff", b"\x00\xff"))
first, frames, data, final = t.get_file("/no/such/file")
equal("opcode 7 of a missing file", first, b"\xff\xff")
acks = t.put_file(os.path.join(scratch, "up.bin"), body, trailer=b"\xaa\xbb")
equal("opcode 8 of 254 bytes: three acknowledgements", acks, [b"\x00\xff"] * 3)
equal("... the next request after the 2 trailing bytes", t.check_header(1), b"\x01\x01")
with open(os.path.join(scratch, "up.bin"), "rb") as f:
    equal("... the file", f.read(), body)
acks = t.put_file(os.path.join(scratch, "bad.bin"), b"g" * 127 + b"b" * 127, counts=[127, 200])
equal("an upload count of 200 ends the transfer", acks, [b"\x00\xff"])
equal("... unacknowledged; the next request is served", t.check_header(1), b"\x01\x01")
with open(os.path.join(scratch, "bad.bin"), "rb") as f:
    equal("... with only the good frame written", f.read(), b"g" * 127)
t.request(bytes([8]) + b"/no/such/dir/file\0")
check("opcode 8 of an unwritable file: no reply", t.silent())
equal("... and the next request is served", t.check_header(2), b"\xfd\x02")

# A second tool ends the first.
second = connect()
time.sleep(0.2)
try:
    gone = t.check_header(1) is None
except (Closed, OSError):
    gone = True
check("a second client ends the first", gone)
t.close()
equal("the second is served", second.check_header(1), b"\x01\x01")

# Profiles: not saved after opcode 5, saved when the stream closes.
equal("opcode 6 creates a profile", second.command("profiles line-profile new rtp2"), b"\x00p")
equal("opcode 5", second.end(), b"\x00\x00")
second.close()
time.sleep(0.3)
check("no save after opcode 5", "rtp2" not in (key("VdslLineProfiles1") or ""), key("VdslLineProfiles1"))
third = connect()
equal("opcode 6 creates another", third.command("profiles line-profile new rtp1"), b"\x00p")
third.close()
deadline = time.monotonic() + 5
while (key("VdslLineProfiles1") or "").split("@")[0] != "rtp1" and time.monotonic() < deadline:
    time.sleep(0.05)
equal("saved at the connection's end", (key("VdslLineProfiles1") or "").split("@")[0], "rtp1")

# Hostile tools: truncated frames, silence, a slow sender, garbage.
for junk in (b"\x00", b"\x00\x10\x03\x01", b"\x04\x38" + b"\x07" * 40, bytes(range(256)) * 8):
    h = connect()
    h.send(junk)
    h.close()
slow = connect()
for b in Tool.frame(b"\x03\x01" + b"2.1.9\0"):
    slow.send(bytes([b]))
    time.sleep(0.01)
equal("a slow sender byte by byte is answered", slow.recv(10), b"\x00\x08\x00abcdef\x00")
silent = connect()                 # says nothing; the next tool takes over
time.sleep(0.2)
last = connect()
equal("after junk and a silent tool the service answers", last.read_mib(1, "2.1.9"),
      b"\x00\x08\x00abcdef\x00")
for c in (slow, silent):
    c.close()
last.end()
last.close()

print(f"{failures} failure(s)")
sys.exit(1 if failures else 0)
