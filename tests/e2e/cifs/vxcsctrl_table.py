#!/usr/bin/python3
"""The control tool against a scripted control server on 127.0.0.1:4445.

Each row runs vxcsctrl once and checks its standard output byte for byte,
its exit status, and every datagram that reached the server (command code
and decoded arguments). The server answers each datagram with the row's
next scripted reply: a status with its data, or silence (None)."""
import socket
import struct
import subprocess
import sys
import threading
import time

from impacket.ntlm import compute_nthash

PORT = ("127.0.0.1", 4445)
FAILED, UNKNOWN, NO_REPLY, TOO_LONG = 0xFF07D1, 0xFF0003, 0xFF0BB7, 0xFF0003

# Request layouts after the code: S a string, N a u16.
LAYOUTS = {1: "", 2: "", 3: "SSSNS", 4: "S", 5: "N", 6: "SSSSN", 7: "S", 8: "NS", 9: "N",
           10: "N", 11: "N", 12: "N", 13: "N", 100: "N", 101: "NS"}

USAGE = """-- VX CIFS Server Control tool --
Usage: vxcsctrl <command> <parameters>
    where parameterers are positional per command as:
    'S' - stop VX Server
    'R' - restart VX Server
    '+S "<name>" "<local path>" "<description>" [P]' - add new share
        'P' for a printer share
    'addfileshare <name> <path> [description]  - add new share
    'addprintershare <name> <path> <statfile> <debuglevel> [description]  - add new printer share
    'removeshare <name>'                       - remove share
    '-S "<name>" ' - remove share
    'ES' - enumerate shares
    'setprinterowner <name> <state>'           - set owner for printer
    '+U "<name>" "<full name>" "<description>" "<password>" [A]' - add new user
        'A' gives new user administrative rights
    '-U "<name>" ' - remove user
    'adduser <name> <password> [full name] [description]' - add new user
    'removeuser  <name>'                       - remove user
    'C  "<name>" [D]' - close user connections
        'D' for domain user
    'EU' - enumerate users
    'EC' - enumerate clients
    'EF' - enumerate files
    'SEL <encryption level>'- set encryption level
    'MSG <newPolicy>  - set message signing policy
"""


def text(s):
    return struct.pack("<H", len(s)) + s.encode("utf-16-le") + b"\0\0"


def text8(s):
    return struct.pack("<H", len(s)) + s.encode() + b"\0"


def num(n):
    return struct.pack("<H", n & 0xFFFF)


def ok(data=b""):
    return struct.pack("<I", 0) + data


def status(code):
    return struct.pack("<I", code)


def share(name, path, statpath, level, comment):
    return ok(text(name) + text(path) + text(statpath) + num(level) + text(comment))


def user(name, full, desc, admin):
    return ok(text(name) + text(full) + text(desc) + num(admin))


def client(address, dialect, name, guest=0, anonymous=0, owner=0):
    return ok(text(address) + num(dialect) + text(name) + num(guest) + num(anonymous) + num(owner))


def open_file(address, path, name, directory):
    return ok(text8(address) + text(path) + text(name) + num(directory))


def decode(datagram):
    code = struct.unpack_from("<I", datagram)[0]
    args, at = [], 4
    for kind in LAYOUTS.get(code, ""):
        if kind == "N":
            args.append(struct.unpack_from("<H", datagram, at)[0])
            at += 2
        else:
            length = struct.unpack_from("<H", datagram, at)[0]
            args.append(datagram[at + 2:at + 2 + 2 * length].decode("utf-16-le"))
            at += 2 + 2 * length + 2
    if at != len(datagram):
        args.append(("trailing", datagram[at:]))
    return (code, *args)


class FakeServer:
    """Answers each datagram with the next scripted reply; records them all."""

    def __init__(self):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.bind(PORT)
        self.lock = threading.Lock()
        self.replies, self.seen = [], []
        threading.Thread(target=self.serve, daemon=True).start()

    def script(self, replies):
        with self.lock:
            self.replies, self.seen = replies if callable(replies) else list(replies), []

    def serve(self):
        while True:
            datagram, sender = self.sock.recvfrom(4096)
            with self.lock:
                self.seen.append(datagram)
                if callable(self.replies):
                    reply = self.replies(datagram)
                else:
                    reply = self.replies.pop(0) if self.replies else None
            if reply is not None:
                self.sock.sendto(reply, sender)

    def taken(self):
        with self.lock:
            return [decode(d) for d in self.seen], [] if callable(self.replies) else self.replies


def progress(description, rest):
    return f"  {description} ...{rest}"


SUCCEEDED = "\n succeeded\n"


def failed(code):
    return f"\n failed: 0x{code:X}\n"


REFUSED = failed(22)  # EINVAL: words the tool refuses itself
LONG = "x" * 500


def nt(password):
    """The server keeps NT hashes: a plain password goes out as one."""
    return compute_nthash(password).hex()


HASH = "0123456789ABCDEFabcdef0123456789"

# (words, replies, stdout, exit status, datagrams)
ROWS = [
    ([], [], USAGE, 0, []),
    (["es"], [], "  Command 'es' not found\n", 255, []),
    (["S", "now"], [], "  Unexpected number of parameters: expected - 0, found - 1\n", 255, []),
    (["-S"], [], "  Unexpected number of parameters: expected - 1, found - 0\n", 255, []),
    (["+S", "a", "b"], [], "  Unexpected number of parameters: expected  - 3 to 4, found - 2\n", 255, []),
    (["+S", "a", "b", "c", "P", "x"], [],
     "  Unexpected number of parameters: expected  - 3 to 4, found - 5\n", 255, []),
    (["adduser", "u"], [], "  Unexpected number of parameters: expected  - 2 to 4, found - 1\n", 255, []),
    (["S"], [ok()], progress("Terminating CIFS Server", SUCCEEDED), 0, [(1,)]),
    (["R"], [ok()], progress("Restarting CIFS Server", SUCCEEDED), 0, [(2,)]),
    (["+S", "Music", "/mnt/m", "My music"], [ok()], progress("Adding share", SUCCEEDED), 0,
     [(3, "Music", "/mnt/m", "", 0xFFFF, "My music")]),
    (["+S", "Lp", "/dev/usb/lp0", "Printer", "P"], [ok()], progress("Adding share", SUCCEEDED), 0,
     [(3, "Lp", "/dev/usb/lp0", "", 0, "Printer")]),
    (["+S", "Lp", "/dev/usb/lp0", "Printer", "p"], [],
     progress("Adding share", "  'P' expected, p found\n" + REFUSED), 255, []),
    (["+S", "Music", "/mnt/m", "x"], [status(FAILED)], progress("Adding share", failed(FAILED)), 255,
     [(3, "Music", "/mnt/m", "", 0xFFFF, "x")]),
    (["-S", "Music"], [ok()], progress("Removing share", SUCCEEDED), 0, [(4, "Music")]),
    (["removeshare", "Music"], [status(FAILED)], progress("Removing share", failed(FAILED)), 255,
     [(4, "Music")]),
    (["addfileshare", "Docs", "/mnt/d"], [ok()], progress("Adding share", SUCCEEDED), 0,
     [(3, "Docs", "/mnt/d", "", 0xFFFF, "")]),
    (["addfileshare", "Docs", "/mnt/d", "Papers"], [ok()], progress("Adding share", SUCCEEDED), 0,
     [(3, "Docs", "/mnt/d", "", 0xFFFF, "Papers")]),
    (["addprintershare", "Lp", "/dev/usb/lp0", "/var/run/lp0", "3"], [ok()],
     progress("Adding printer share", SUCCEEDED), 0, [(3, "Lp", "/dev/usb/lp0", "/var/run/lp0", 3, "")]),
    (["addprintershare", "Lp", "/dev/usb/lp0", "/var/run/lp0", "0", "Laser"], [ok()],
     progress("Adding printer share", SUCCEEDED), 0, [(3, "Lp", "/dev/usb/lp0", "/var/run/lp0", 0, "Laser")]),
] + [
    (["addprintershare", "Lp", "/dev/usb/lp0", "/var/run/lp0", level], [],
     progress("Adding printer share", f'"{level}" debug level is invalid' + REFUSED), 255, [])
    for level in ["4", "-1", "2x", "", "99999999999999999999999"]
] + [
    (["setprinterowner", "bob", word], [ok()], progress("Set printer owner", SUCCEEDED), 0, [(101, flag, "bob")])
    for word, flag in [("yes", 1), ("TRUE", 1), ("1", 1), ("No", 0), ("false", 0), ("0", 0)]
] + [
    (["setprinterowner", "bob", "on"], [], progress("Set printer owner", 'unknown state: "on"' + REFUSED), 255, []),
    (["setprinterowner", "bob", "yes"], [status(FAILED)], progress("Set printer owner", failed(FAILED)), 255,
     [(101, 1, "bob")]),
    (["setpermissive", "maybe"], [], progress("Set permissive", 'unknown state: "maybe"' + REFUSED), 255, []),
    (["setpermissive", "yes"], [ok()], progress("Set permissive", SUCCEEDED), 0, [(100, 1)]),
    (["setpermissive", "no"], [ok()], progress("Set permissive", SUCCEEDED), 0, [(100, 0)]),
    (["setpermissive", "yes"], [status(FAILED)], progress("Set permissive", failed(FAILED)), 255, [(100, 1)]),
    (["+U", "ann", "Ann A", "Keeps it", "pw"], [ok()], progress("Adding user", SUCCEEDED), 0,
     [(6, "ann", "Ann A", "Keeps it", nt("pw"), 0)]),
    (["+U", "ann", "Ann A", "Keeps it", "pw", "A"], [ok()], progress("Adding user", SUCCEEDED), 0,
     [(6, "ann", "Ann A", "Keeps it", nt("pw"), 1)]),
    (["+U", "ann", "Ann A", "Keeps it", "pw", "admin"], [],
     progress("Adding user", "  'A' expected, admin found\n" + REFUSED), 255, []),
    (["adduser", "u", "p"], [ok()], progress("Adding user", SUCCEEDED), 0, [(6, "u", "", "", nt("p"), 1)]),
    # A hash passes as is; a password that is not one is hashed from UTF-8;
    # a word that is not UTF-8 is refused rather than hashed as something else.
    (["adduser", "u", HASH], [ok()], progress("Adding user", SUCCEEDED), 0, [(6, "u", "", "", HASH, 1)]),
    (["adduser", "u", HASH[:31]], [ok()], progress("Adding user", SUCCEEDED), 0,
     [(6, "u", "", "", nt(HASH[:31]), 1)]),
    (["adduser", "u", HASH[:31] + "g"], [ok()], progress("Adding user", SUCCEEDED), 0,
     [(6, "u", "", "", nt(HASH[:31] + "g"), 1)]),
    (["+U", "u", "", "", "p\u00e4ss \U0001f600"], [ok()], progress("Adding user", SUCCEEDED), 0,
     [(6, "u", "", "", nt("p\u00e4ss \U0001f600"), 0)]),
    (["adduser", "u", "p\udcff"], [], progress("Adding user", "the password is not UTF-8 text" + REFUSED), 255, []),
    (["adduser", "u", "p", "Full"], [ok()], progress("Adding user", SUCCEEDED), 0,
     [(6, "u", "Full", "", nt("p"), 1)]),
    (["adduser", "u", "p", "Full", "Desc"], [ok()], progress("Adding user", SUCCEEDED), 0,
     [(6, "u", "Full", "Desc", nt("p"), 1)]),
    # Four maximal texts do not fit one datagram: refused before sending.
    (["adduser", LONG, LONG, LONG, LONG], [], progress("Adding user", failed(TOO_LONG)), 255, []),
    (["+S", LONG, "/mnt", "c"], [], progress("Adding share", failed(TOO_LONG)), 255, []),
    (["-U", "ann"], [ok()], progress("Removing user", SUCCEEDED), 0, [(7, "ann")]),
    (["removeuser", "ann"], [status(FAILED)], progress("Removing user", failed(FAILED)), 255, [(7, "ann")]),
    (["C", "bob"], [ok()], progress("Closing user connections to CIFS Server", SUCCEEDED), 0, [(8, 0, "bob")]),
    (["C", "bob", "D"], [ok()], progress("Closing user connections to CIFS Server", SUCCEEDED), 0,
     [(8, 1, "bob")]),
    (["C", "bob", "d"], [],
     progress("Closing user connections to CIFS Server", "  'D' expected, d found\n" + REFUSED), 255, []),
    (["C", "bob"], [status(FAILED)], progress("Closing user connections to CIFS Server", failed(FAILED)), 255,
     [(8, 0, "bob")]),
] + [
    # Bits 0-1 or 2-3 equal to 01 are illegal: 5 and 6 both (5 & 12 == 6 & 12 == 4).
    (["SEL", level], [], progress(" Changing Encryption Levels",
                                  "\n Illegal Encryption Level when Message Signing is defined" + REFUSED), 255, [])
    for level in ["5", "6", "1", "4", "13"]
] + [
    (["SEL", level], [], progress(" Changing Encryption Levels", " \nInvalid Encryption Level" + REFUSED), 255, [])
    for level in ["16", "3a", "-1", "", "99999999999999999999999"]
] + [
    (["SEL", level], [ok()], progress(" Changing Encryption Levels", SUCCEEDED), 0, [(11, int(level))])
    for level in ["10", "0", "15", "2", "8"]
] + [
    (["SEL", "10"], [status(FAILED)], progress(" Changing Encryption Levels", failed(FAILED)), 255, [(11, 10)]),
    (["MSG", "-1"], [ok()], progress(" Changing Message Signing", SUCCEEDED), 0, [(12, 0xFFFF)]),
    (["MSG", "2"], [ok()], progress(" Changing Message Signing", SUCCEEDED), 0, [(12, 2)]),
    (["MSG", "2"], [status(UNKNOWN)], progress(" Changing Message Signing", failed(UNKNOWN)), 255, [(12, 2)]),
] + [
    (["MSG", policy], [], progress(" Changing Message Signing", " \nInvalid Message Signing Policy" + REFUSED),
     255, [])
    for policy in ["3", "2x", "", "-99999999999999999999999"]
] + [
    # Listings: the server's "no such item" ends them.
    (["ES"], [status(FAILED)], progress("Enumerating shares", SUCCEEDED), 0, [(5, 0)]),
    (["ES"], [share("IPC$", "", "", -1, "IPC Service"), share("Lp", "/dev/usb/lp0", "/var/run/lp0", 2, "Laser"),
              status(FAILED)],
     progress("Enumerating shares",
              "\n  #1\n        Share name: IPC$\n        Share path: \n        Share comment: IPC Service"
              "\n  #2\n        Share name: Lp\n        Share path: /dev/usb/lp0\n"
              "        Printer share status path: /var/run/lp0\n        Printer share debug level: 2\n"
              "        Share comment: Laser" + SUCCEEDED), 0, [(5, 0), (5, 1), (5, 2)]),
    (["ES"], [share("A", "/a", "", -1, "a"), status(UNKNOWN)],
     progress("Enumerating shares",
              "\n  #1\n        Share name: A\n        Share path: /a\n        Share comment: a" + failed(UNKNOWN)),
     255, [(5, 0), (5, 1)]),
    (["EU"], [user("admin", "The Admin", "Keeps it", 1), user("bob", "Bob", "", 0), status(FAILED)],
     progress("Enumerating users",
              "\n  #1\n        User name: admin\n        User full name: The Admin\n"
              "        User description: Keeps it\n        User is Admin: Yes"
              "\n  #2\n        User name: bob\n        User full name: Bob\n"
              "        User description: \n        User is Admin: No" + SUCCEEDED), 0, [(9, 0), (9, 1), (9, 2)]),
    (["EC"], [client("192.168.1.5", 8, "bob", owner=1), client("192.168.1.6", 4, "guest", guest=1),
              client("10.0.0.1", 1, "anon", anonymous=1), client("10.0.0.2", 2, "x"),
              client("10.0.0.3", 6, "y"), client("10.0.0.4", 0x311, "z"), status(FAILED)],
     progress("Enumerating Clients",
              "\n Entry #1 \n ip = 192.168.1.5\n name = bob\n Guest = No\n Anonymous = No\n PrinterOwner = Yes\n"
              " SMB Version: SMB3.1.1 \n"
              "\n Entry #2 \n ip = 192.168.1.6\n name = guest\n Guest = Yes\n Anonymous = No\n PrinterOwner = No\n"
              " SMB Version: SMB2.1 \n"
              "\n Entry #3 \n ip = 10.0.0.1\n name = anon\n Guest = No\n Anonymous = Yes\n PrinterOwner = No\n"
              " SMB Version: SMB \n"
              "\n Entry #4 \n ip = 10.0.0.2\n name = x\n Guest = No\n Anonymous = No\n PrinterOwner = No\n"
              " SMB Version: SMB2 \n"
              "\n Entry #5 \n ip = 10.0.0.3\n name = y\n Guest = No\n Anonymous = No\n PrinterOwner = No\n"
              " SMB Version: SMB3.0 \n"
              "\n Entry #6 \n ip = 10.0.0.4\n name = z\n Guest = No\n Anonymous = No\n PrinterOwner = No\n"
              " SMB Version: Unk 0x0311 \n" + SUCCEEDED), 0, [(10, i) for i in range(7)]),
    (["EF"], [open_file("192.168.1.5", "/mnt/m/a.mp3", "bob", 0), open_file("192.168.1.7", "/mnt/m/p", "carol", 1),
              status(FAILED)],
     progress("Enumerating Files",
              "\n Entry #1 \n name = /mnt/m/a.mp3 \n user name = bob \n ip = 192.168.1.5\n File is Directory: FALSE\n"
              "\n Entry #2 \n name = /mnt/m/p \n user name = carol \n ip = 192.168.1.7\n File is Directory: TRUE\n"
              + SUCCEEDED), 0, [(13, 0), (13, 1), (13, 2)]),
    (["EF"], [status(UNKNOWN)], progress("Enumerating Files", failed(UNKNOWN)), 255, [(13, 0)]),
]

# Rows whose server falls silent: the tool gives up after 5 s.
SILENT = [
    (["MSG", "1"], [None], progress(" Changing Message Signing", failed(NO_REPLY)), 255, [(12, 1)]),
    (["ES"], [share("A", "/a", "", -1, "a"), share("B", "/b", "", -1, "b"), None],
     progress("Enumerating shares",
              "\n  #1\n        Share name: A\n        Share path: /a\n        Share comment: a"
              "\n  #2\n        Share name: B\n        Share path: /b\n        Share comment: b" + failed(NO_REPLY)),
     255, [(5, 0), (5, 1), (5, 2)]),
]


def run(tool, server, row, seconds=None):
    words, replies, stdout, code, datagrams = row
    server.script(replies)
    start = time.monotonic()
    done = subprocess.run([tool] + words, capture_output=True, timeout=40)
    took = time.monotonic() - start
    seen, left = server.taken()
    what = " ".join(w if len(w) < 40 else w[:10] + "..." for w in words) or "(none)"
    problems = []
    if done.stdout.decode(errors="replace") != stdout:
        problems.append(f"stdout {done.stdout!r}, wanted {stdout.encode()!r}")
    if done.returncode != code:
        problems.append(f"exit {done.returncode}, wanted {code}")
    if seen != datagrams:
        problems.append(f"datagrams {seen!r}, wanted {datagrams!r}")
    if left:
        problems.append(f"replies never asked for: {left!r}")
    if done.stderr:
        problems.append(f"stderr {done.stderr!r}")
    if seconds is not None and not seconds - 0.2 <= took < seconds + 2:
        problems.append(f"took {took:.1f} s, wanted about {seconds} s")
    for p in problems:
        print(f"FAIL: vxcsctrl {what}: {p}")
    if not problems:
        print(f"== vxcsctrl {what}: ok")
    return not problems


def endless(tool, server):
    """A server that never says "no such item": the listing stops where the
    16-bit index ends instead of walking the list again for ever."""
    server.script(lambda datagram: user("u", "", "", 0))
    done = subprocess.run([tool, "EU"], capture_output=True, timeout=60)
    seen, _ = server.taken()
    entries = done.stdout.count(b"User name: u")
    indexes = [args[1] for args in seen]
    if done.returncode != 0 or entries != 0x10000 or indexes != list(range(0x10000)):
        print(f"FAIL: vxcsctrl EU, endless: exit {done.returncode}, {entries} entries, {len(indexes)} requests")
        return False
    if not done.stdout.endswith(b"        User is Admin: No\n succeeded\n"):
        print(f"FAIL: vxcsctrl EU, endless: ends {done.stdout[-60:]!r}")
        return False
    print("== vxcsctrl EU, endless: ok")
    return True


def main():
    tool = sys.argv[1]
    server = FakeServer()
    good = all([run(tool, server, row) for row in ROWS] + [run(tool, server, row, 5) for row in SILENT] +
               [endless(tool, server)])
    if not good:
        sys.exit(1)
    print("PASS")


main()
