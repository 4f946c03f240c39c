# Crafted SMB2 CREATEs against the running vxcs from impacket clients:
# delete on close (refused on a read-only share), batch oplocks and their
# breaks (also sealed, and to SMB1 holders), change notification over SMB2
# and SMB1 NT_TRANSACT, and a crowd of 50 parked watchers.
# Usage: smb2_files.py SHARE_DIRECTORY
import os
import struct
import sys
import time

from Cryptodome.Cipher import AES
from impacket import smb as smb1
from impacket.smb3structs import SMB2_DIALECT_002, SMB2_DIALECT_21, SMB2_DIALECT_30, SMB2_DIALECT_311

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from smb2_clients import ShareClient, check, create_body, failures, seal_with, status  # noqa: E402

share_dir = sys.argv[1] if len(sys.argv) > 1 else None
CREATE, CLOSE, CANCEL, NOTIFY, BREAK, SET_INFO = 5, 6, 12, 15, 18, 17
PENDING, ENUM_DIR, CANCELLED, DELETE_PENDING = 0x103, 0x10C, 0xC0000120, 0xC0000056
SHARING_VIOLATION = 0xC0000043
ASYNC, SIGNED = 0x02, 0x08


class Client(ShareClient):
    def __init__(self, dialect, share='Share'):
        super().__init__(dialect, share=share)

    def request(self, command, body, flags=SIGNED):
        self.send(self.element(command, body, self.tid, flags))

    def create(self, name, **kw):
        self.request(CREATE, create_body(name, **kw))
        return self.message()

    def close(self, fid):
        self.request(CLOSE, struct.pack('<HHI', 24, 0, 0) + fid)
        return self.message()


class Sealed(Client):
    """A client of the encrypted share: every request goes sealed, every
    message must come sealed; the nonces the server used are kept."""

    def __init__(self, dialect):
        super().__init__(dialect, 'Secret')
        self.nonces = []
        self.plain = 0

    def request(self, command, body, flags=0):
        self.send(seal_with(self.s._Session['EncryptionKey'], self.element(command, body, self.tid, 0), self.sid))

    def message(self, wait=5.0):
        m = super().message(wait)
        if m is None or m[:4] != b'\xfdSMB':
            self.plain += m is not None
            return m
        nonce = m[20:36]
        self.nonces.append(nonce)
        cipher = AES.new(self.s._Session['DecryptionKey'], AES.MODE_CCM, nonce[:11])
        cipher.update(m[20:52])
        try:
            return cipher.decrypt_and_verify(m[52:], m[4:20])
        except ValueError:
            return None


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


def read_only_share(dialect):
    """Read-only share rights: a DELETE-only open is served, but neither
    delete-on-close nor the disposition class deletes; the file stays."""
    name = f'ro_{dialect:x}.txt'
    path = os.path.join(share_dir, name)
    with open(path, 'w') as f:
        f.write('stays')
    c = Client(dialect, 'RO')
    m = c.create(name, options=0x1040, disposition=1, access=0x00010000)
    check(f'{dialect:#x} RO: delete-on-close open refused', status(m) == 0xC0000005, f'{status(m):#x}')
    m = c.create(name, options=0x40, disposition=1, access=0x00010000)
    check(f'{dialect:#x} RO: DELETE-only open served', status(m) == 0, f'{status(m):#x}')
    c.request(SET_INFO, struct.pack('<HBBIHHI', 33, 1, 13, 1, 96, 0, 0) + fid_of(m) + b'\x01')
    r = c.message()
    check(f'{dialect:#x} RO: disposition delete refused', command(r) == SET_INFO and status(r) == 0xC0000005,
          f'{status(r):#x}')
    check(f'{dialect:#x} RO: close', status(c.close(fid_of(m))) == 0)
    with open(path) as f:
        check(f'{dialect:#x} RO: the file stays whole', f.read() == 'stays')


def ack_body(fid):
    return struct.pack('<HB5s', 24, 0, b'\0' * 5) + fid


def sealed_break(dialect):
    """On the encrypted share the break, the acknowledgment's answer and the
    waiter's interim and late answers all go sealed, each with its own nonce."""
    name = f'sealed_{dialect:x}'
    open(os.path.join(share_dir, name), 'w').close()
    a, b = Sealed(dialect), Sealed(dialect)
    held = a.create(name, oplock=9)
    check(f'{name}: A granted batch', status(held) == 0 and held[66] == 9, f'{status(held)}')
    b.request(CREATE, create_body(name))
    interim = b.message()
    check(f'{name}: B pending', status(interim) == PENDING, f'{status(interim)}')
    brk = a.message()
    check(f'{name}: A gets the break sealed', command(brk) == BREAK and brk[64 + 8:64 + 24] == fid_of(held))
    a.request(BREAK, ack_body(fid_of(held)))
    ack = a.message()
    check(f'{name}: acknowledgment answered sealed', command(ack) == BREAK and status(ack) == 0, f'{status(ack)}')
    late = b.message()
    check(f'{name}: B answered sealed', command(late) == CREATE and status(late) == 0 and
          late[32:40] == interim[32:40], f'{status(late)}')
    check(f'{name}: nothing came in the clear', a.plain == 0 and b.plain == 0, f'{a.plain} {b.plain}')
    nonces = a.nonces + b.nonces
    check(f'{name}: every nonce fresh', len(set(nonces)) == len(nonces), repr(nonces))
    a.close(fid_of(held))
    b.close(fid_of(late))


def sharing_deferral(dialect):
    """A batch holder that shares nothing: the conflicting open waits for the
    break, then gets the sharing violation once the holder acknowledges."""
    name = f'deny_{dialect:x}'
    open(os.path.join(share_dir, name), 'w').close()
    a, b = Client(dialect), Client(dialect)
    held = a.create(name, oplock=9, sharing=0)
    check(f'{name}: A granted batch, sharing nothing', status(held) == 0 and held[66] == 9, f'{status(held)}')
    b.request(CREATE, create_body(name))
    interim = b.message()
    check(f'{name}: B pending', status(interim) == PENDING and flags(interim) & ASYNC, f'{status(interim)}')
    check(f'{name}: A gets the break', command(a.message()) == BREAK)
    a.request(BREAK, ack_body(fid_of(held)))
    check(f'{name}: acknowledgment answered', status(a.message()) == 0)
    late = b.message()
    check(f'{name}: B answered with the sharing violation', command(late) == CREATE and
          status(late) == SHARING_VIOLATION and late[32:40] == interim[32:40], f'{status(late)}')
    check(f'{name}: A keeps its handle', status(a.close(fid_of(held))) == 0)


def park(c, directory, tree=False):
    """Opens the directory and parks a notify on it: (handle, AsyncId)."""
    d = c.create(directory, options=1, disposition=1, access=0x00100081)
    c.request(NOTIFY, struct.pack('<HHI', 32, 1 if tree else 0, 4096) + fid_of(d) + struct.pack('<II', 0x17, 0))
    m = c.message()
    ok = status(m) == PENDING and flags(m) & ASYNC
    return fid_of(d), (m[32:40] if ok else None)


def removal(dialect):
    """Removing the watched folder answers its watcher STATUS_DELETE_PENDING."""
    a, b = Client(dialect), Client(dialect)
    directory = f'R_{dialect:x}'
    os.makedirs(os.path.join(share_dir, directory))
    d, aid = park(a, directory)
    check(f'{dialect:#x} notify parked on {directory}', aid is not None)
    m = b.create(directory, options=0x1001, disposition=1, access=0x00110080)
    check(f'{dialect:#x} delete-on-close open of the watched folder', status(m) == 0, f'{status(m):#x}')
    b.close(fid_of(m))
    got = a.message(2.0)
    check(f'{dialect:#x} removing the watched folder: 0xC0000056', status(got) == DELETE_PENDING and
          got[32:40] == aid, f'{status(got)}')
    a.close(d)


def crowd():
    """50 clients parked on one folder all complete on one change; a 51st
    client evicts the least recently active one, whose parked request goes
    with it, and the other 49 complete on the next change."""
    os.makedirs(os.path.join(share_dir, 'crowd'))
    dialects = (SMB2_DIALECT_002, SMB2_DIALECT_21, SMB2_DIALECT_30, SMB2_DIALECT_311)
    clients = [Client(dialects[i % 4]) for i in range(50)]

    def park_all(group):
        return {id(c): park(c, 'crowd') for c in group}

    def answered(group, parked, changer, what):
        n, lost = 0, []
        for i, c in enumerate(group):
            # The changer reads its own CREATE answer beside the completion.
            got = [c.message(5.0) for _ in range(2 if c is changer else 1)]
            if any(command(m) == NOTIFY and status(m) == ENUM_DIR and m[32:40] == parked[id(c)][1] for m in got):
                n += 1
            else:
                lost.append((i, [(command(m), status(m)) for m in got]))
        check(what, n == len(group), f'{n} of {len(group)} answered; not: {lost}')

    parked = park_all(clients)
    check('50 notifies parked', all(aid for _, aid in parked.values()))
    changer = clients[-1]
    changer.request(CREATE, create_body('crowd\\one', disposition=2))
    answered(clients, parked, changer, 'one change answers all 50 parked notifies')

    parked = park_all(clients[:1])
    time.sleep(1.2)
    parked.update(park_all(clients[1:]))
    extra = Client(SMB2_DIALECT_311)
    # The evicted client's parked request ends with its connection.
    m = clients[0].message(2.0)
    check('the evicted client hears at most the cleanup of its parked request',
          m is None or (command(m) == NOTIFY and status(m) == 0x10B), f'{command(m)} {status(m)}')
    check('the 51st evicts the least recently active client', clients[0].closed())
    extra.request(CREATE, create_body('crowd\\two', disposition=2))
    answered(clients[1:], parked, None, 'the next change answers the other 49')
    m = extra.message()
    check('the 51st made its file', command(m) == CREATE and status(m) == 0, f'{status(m)}')


class One:
    """An SMB1 client: impacket's logon and tree, crafted messages after."""

    def __init__(self):
        self.c = smb1.SMB('*SMBSERVER', '127.0.0.1', sess_port=445)
        self.c.login('alice', 'Secret#1')
        self.tid = self.c.connect_tree('\\\\*SMBSERVER\\Share')
        self.mid = 0x100

    def send(self, command, words, data=b'', mid=None):
        p = smb1.NewSMBPacket()
        p['Tid'] = self.tid
        p['Flags2'] = 0xC801  # unicode, NT status, extended security, long names
        if mid is None:
            self.mid += 1
            mid = self.mid
        p['Mid'] = mid
        cmd = smb1.SMBCommand(command)
        cmd['Parameters'] = words
        cmd['Data'] = data
        p.addCommand(cmd)
        self.c.sendSMB(p)
        return mid

    def message(self, wait=5.0):
        try:
            return self.c._sess.recv_packet(wait).get_trailer()
        except Exception:
            return None

    def nt_create(self, name, flags=0, options=0x40, disposition=1, access=0x0012019F):
        words = struct.pack('<BBHBHIIIQIIIIIB', 0xFF, 0, 0, 0, len(name) * 2, flags, 0, access, 0, 0x80, 7,
                            disposition, options, 2, 0)
        return self.send(0xA2, words, b'\0' + name.encode('utf-16-le') + b'\0\0')

    def nt_notify(self, fid, tree=False):
        setup = struct.pack('<IHBB', 0x17, fid, 1 if tree else 0, 0)
        offset = 32 + 1 + 38 + len(setup) + 2
        words = struct.pack('<BHIIIIIIIIBH', 0, 0, 0, 0, 4096, 0, 0, offset, 0, offset, 4, 4) + setup
        return self.send(0xA0, words)

    def close(self, fid):
        self.send(0x04, struct.pack('<HI', fid, 0))
        return self.message()


def status1(m):
    return struct.unpack_from('<I', m, 5)[0] if m else None


def mid1(m):
    return struct.unpack_from('<H', m, 30)[0] if m else None


def fid1(m):
    return struct.unpack_from('<H', m, 38)[0]


def smb1_break():
    """An SMB1 holder of a batch oplock gets the LOCKING_ANDX break even when
    the SMB1 open that comes asks for no oplock; that open waits for the
    holder's acknowledgment. (An SMB2 opener: smb1_oplocks.py.)"""
    name = 'o1_smb1'
    open(os.path.join(share_dir, name), 'w').close()
    a = One()
    a.nt_create(name, flags=0x04)
    held = a.message()
    check(f'{name}: SMB1 holder granted batch', status1(held) == 0 and held[37] == 2, f'{status1(held)}')
    fid = fid1(held)
    b = One()
    mid = b.nt_create(name)
    brk = a.message()
    check(f'{name}: LOCKING_ANDX break to the holder', brk is not None and brk[4] == 0x24 and
          struct.unpack_from('<H', brk, 37)[0] == fid and brk[39] == 0x02 and mid1(brk) == 0xFFFF, repr(brk))
    check(f'{name}: the open waits', b.message(0.5) is None)
    a.send(0x24, struct.pack('<BBHHBBIHH', 0xFF, 0, 0, fid, 0x02, 0, 0, 0, 0))
    ack = a.message()
    check(f'{name}: acknowledgment answered', ack is not None and ack[4] == 0x24 and status1(ack) == 0,
          f'{status1(ack)}')
    late = b.message()
    check(f'{name}: the open answered after it, no oplock', late is not None and late[4] == 0xA2 and
          status1(late) == 0 and mid1(late) == mid and late[37] == 0, f'{status1(late)}')
    b.close(fid1(late))
    a.close(fid)


def smb1_notify():
    """NT_TRANSACT change notification parks without an interim answer,
    completes on a change it covers, and NT_CANCEL or the handle's close
    answer it; the cancel itself is not answered."""
    os.makedirs(os.path.join(share_dir, 'N1', 'sub'))
    a, b = One(), Client(SMB2_DIALECT_311)
    a.nt_create('N1', options=1, disposition=1, access=0x00100081)
    d = a.message()
    check('SMB1 folder open', status1(d) == 0, f'{status1(d)}')
    fid = fid1(d)
    for tree, where, completes in ((False, 'N1\\x1', True), (False, 'N1\\sub\\x2', False),
                                   (True, 'N1\\sub\\x3', True)):
        what = f'SMB1 notify tree={tree} on {where}'
        mid = a.nt_notify(fid, tree)
        check(what + ': parked without an answer', a.message(0.5) is None)
        b.close(fid_of(b.create(where, disposition=2)))
        got = a.message(1.0)
        if completes:
            check(what + ' completes', got is not None and got[4] == 0xA0 and status1(got) == 0 and
                  mid1(got) == mid, f'{status1(got)}')
            continue
        check(what + ' stays parked', got is None, f'{status1(got)}')
        a.send(0xA4, b'', mid=mid)
        got = a.message()
        check(what + ': NT_CANCEL answers it 0xC0000120', got is not None and got[4] == 0xA0 and
              status1(got) == CANCELLED and mid1(got) == mid, f'{status1(got)}')
        check(what + ': the cancel itself unanswered', a.message(0.5) is None)
    mid = a.nt_notify(fid)
    a.send(0x04, struct.pack('<HI', fid, 0))
    got = a.message()
    check('SMB1 close answers the parked notify first', got is not None and got[4] == 0xA0 and
          status1(got) == 0x10B and mid1(got) == mid, f'{status1(got)}')
    got = a.message()
    check('then the close', got is not None and got[4] == 0x04 and status1(got) == 0, f'{status1(got)}')


# Other scenarios import the client and the helpers above.
if __name__ == '__main__':
    for dialect in (SMB2_DIALECT_21, SMB2_DIALECT_30, SMB2_DIALECT_311):
        delete_on_close(dialect)
        read_only_share(dialect)
        grants(dialect)
        for release in ('ack', 'close', 'dies'):
            oplocks(dialect, release)
        sharing_deferral(dialect)
        notify(dialect)
        removal(dialect)
    for dialect in (SMB2_DIALECT_30, SMB2_DIALECT_311):
        sealed_break(dialect)
    smb1_break()
    smb1_notify()
    crowd()

    sys.exit(1 if failures else 0)
