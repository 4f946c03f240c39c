# Crafted SMB2 CREATEs against the running vxcs from two impacket clients:
# delete on close, batch oplocks and their breaks, change notification.
# Usage: smb2_files.py SHARE_DIRECTORY
import os
import struct
import sys
import threading

from impacket.smb3structs import SMB2_DIALECT_21, SMB2_DIALECT_30, SMB2_DIALECT_311

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from smb2_clients import ShareClient, check, create_body, failures, status  # noqa: E402

share_dir = sys.argv[1] if len(sys.argv) > 1 else None
CREATE, CLOSE, CANCEL, NOTIFY, BREAK = 5, 6, 12, 15, 18
PENDING, ENUM_DIR, CANCELLED = 0x103, 0x10C, 0xC0000120
ASYNC, SIGNED = 0x02, 0x08


class Client(ShareClient):
    def request(self, command, body, flags=SIGNED):
        self.send(self.element(command, body, self.tid, flags))

    def create(self, name, **kw):
        self.request(CREATE, create_body(name, **kw))
        return self.message()

    def close(self, fid):
        self.request(CLOSE, struct.pack('<HHI', 24, 0, 0) + fid)
        return self.message()


def command(m):
    return struct.unpack_from('<H', m, 12)[0] if m else None


def flags(m):
    return struct.unpack_from('<I', m, 16)[0] if m else 0


def fid_of(m):
    return m[64 + 64:64 + 80]


def delete_on_close(dialect):
    c = Client(dialect)
    # What smbclient made on this dialect goes by delete-on-close opens.
    d = 'made_' + str(dialect)
    os.makedirs(os.path.join(share_dir, d), exist_ok=True)
    open(os.path.join(share_dir, d, 'e.txt'), 'w').close()
    for name, options in ((d + '\\e.txt', 0x1040), (d, 0x1001)):
        m = c.create(name, options=options, disposition=1, access=0x00110080)
        check(f'{dialect:#x} delete-on-close open of {name}', status(m) == 0, f'{status(m):#x}')
        check(f'{dialect:#x} close of {name}', status(c.close(fid_of(m))) == 0)
    check(f'{dialect:#x} delete-on-close removed {d}', not os.path.exists(os.path.join(share_dir, d)))
    m = c.create('full', options=0x1001, disposition=1, access=0x00110080)
    check(f'{dialect:#x} delete-on-close of a full folder refused', status(m) == 0xC0000101, f'{status(m):#x}')
    check(f'{dialect:#x} full folder kept', os.path.exists(os.path.join(share_dir, 'full', 'kept.txt')))
    # Names that climb out of the share, as the wire carries them.
    for name in ('..\\climbed', '..\\..\\climbed', 'full\\..\\..\\climbed', '../climbed'):
        m = c.create(name, options=1, disposition=2)
        check(f'{dialect:#x} CREATE of {name} refused', status(m) != 0, f'{status(m):#x}')
    check(f'{dialect:#x} nothing made outside', not os.path.exists(os.path.join(share_dir, '..', 'climbed')))


def oplocks(dialect, release):
    name = f'f_{dialect:x}_{release}'
    open(os.path.join(share_dir, name), 'w').close()
    a, b = Client(dialect), Client(dialect)
    held = a.create(name, oplock=9)
    check(f'{name}: A granted batch', status(held) == 0 and held[66] == 9, f'{status(held):#x}')
    b.request(CREATE, create_body(name))
    interim = b.message()
    check(f'{name}: B pending at once', status(interim) == PENDING and flags(interim) & ASYNC,
          f'{status(interim)}')
    brk = a.message()
    check(f'{name}: A gets the break', command(brk) == BREAK and brk[64 + 8:64 + 24] == fid_of(held))
    check(f'{name}: B still waits', b.message(0.5) is None)
    if release == 'ack':
        a.request(BREAK, struct.pack('<HB5s', 24, 0, b'\0' * 5) + fid_of(held))
        ack = a.message()
        check(f'{name}: acknowledgment answered, signed', status(ack) == 0 and command(ack) == BREAK and
              flags(ack) & SIGNED and any(ack[48:64]), f'{status(ack)}')
    elif release == 'close':
        check(f'{name}: A closes', status(a.close(fid_of(held))) == 0)
    else:
        a.nb._sock.close()
    late = b.message()
    check(f'{name}: B answered after A let go', status(late) == 0 and command(late) == CREATE and
          flags(late) & ASYNC and late[66] == 0 and late[32:40] == interim[32:40], f'{status(late)}')
    b.close(fid_of(late))


def grants(dialect):
    c = Client(dialect)
    open(os.path.join(share_dir, 'g'), 'w').close()
    ro = os.path.join(share_dir, 'ro')
    open(ro, 'w').close()
    os.chmod(ro, 0o444)
    for name, asked, access, granted in (('g', 1, 0x0012019F, 0), ('g', 8, 0x0012019F, 0),
                                         ('ro', 9, 0x00120089, 0), ('g', 9, 0x0012019F, 9)):
        m = c.create(name, oplock=asked, access=access)
        check(f'{dialect:#x} {name} asked {asked}: granted {granted}', status(m) == 0 and m[66] == granted,
              f'{status(m)} {m[66] if m else None}')
        c.close(fid_of(m))


def notify(dialect):
    a, b = Client(dialect), Client(dialect)
    os.makedirs(os.path.join(share_dir, 'W', 'b'), exist_ok=True)
    os.makedirs(os.path.join(share_dir, 'WB'), exist_ok=True)

    def park(tree):
        d = a.create('W', options=1, disposition=1, access=0x00100081)
        a.request(NOTIFY, struct.pack('<HHI', 32, 1 if tree else 0, 4096) + fid_of(d) + struct.pack('<II', 0x17, 0))
        m = a.message()
        check(f'{dialect:#x} notify parked', status(m) == PENDING and flags(m) & ASYNC, f'{status(m)}')
        return d, m[32:40]

    for tree, where, completes in ((False, 'W\\x1', True), (False, 'W\\b\\x2', False), (True, 'W\\b\\x3', True),
                                   (True, 'WB\\x4', False)):
        d, aid = park(tree)
        m = b.create(f'{where}_{dialect:x}', disposition=2)
        b.close(fid_of(m))
        got = a.message(1.0)
        what = f'{dialect:#x} notify tree={tree} on {where}'
        if completes:
            check(what + ' completes', status(got) == ENUM_DIR and got[32:40] == aid, f'{status(got)}')
        else:
            check(what + ' stays parked', got is None, f'{status(got)}')
        a.close(fid_of(d))
        if not completes:
            a.message(1.0)  # the close's own answer after the cleanup
    d, aid = park(False)
    cancel = a.header(CANCEL, 0, 0, ASYNC | SIGNED)
    cancel = cancel[:32] + aid + cancel[40:] + struct.pack('<HH', 4, 0)
    a.send(a.sign(cancel))
    got = a.message()
    check(f'{dialect:#x} CANCEL answers the parked request', status(got) == CANCELLED and command(got) == NOTIFY,
          f'{status(got)}')
    check(f'{dialect:#x} CANCEL itself unanswered', a.message(0.5) is None)


# Other scenarios import the client and the helpers above.
if __name__ == '__main__':
    for dialect in (SMB2_DIALECT_21, SMB2_DIALECT_30, SMB2_DIALECT_311):
        delete_on_close(dialect)
        grants(dialect)
        for release in ('ack', 'close', 'dies'):
            oplocks(dialect, release)
        notify(dialect)

    sys.exit(1 if failures else 0)
