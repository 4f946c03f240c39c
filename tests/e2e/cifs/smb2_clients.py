# SMB2/SMB3 clients against the running vxcs: impacket per dialect, crafted
# packets on impacket's logged-on connections, a crowd past the 50 client
# slots, and hostile clients. Usage: smb2_clients.py MODE (dialects,
# crafted, crowd, hostile, smb30).
import io
import random
import socket
import struct
import sys
import time

from impacket import crypto, smb3
from impacket.dcerpc.v5 import srvs, transport
from impacket.smb3structs import (SMB2_DIALECT_002, SMB2_DIALECT_21, SMB2_DIALECT_30, SMB2_DIALECT_302,
                                  SMB2_DIALECT_311, SMB2_SESSION_FLAG_ENCRYPT_DATA)
from impacket.smbconnection import SMBConnection, SessionError
from Cryptodome.Cipher import AES

HOST, USER, PASSWORD = '127.0.0.1', 'alice', 'Secret#1'
DIALECTS = [SMB2_DIALECT_002, SMB2_DIALECT_21, SMB2_DIALECT_30, SMB2_DIALECT_311]
NAMES = {SMB2_DIALECT_002: '2.0.2', SMB2_DIALECT_21: '2.1', SMB2_DIALECT_30: '3.0', SMB2_DIALECT_311: '3.1.1'}
ASYNC, SIGNED = 0x02, 0x08

failures = []


def check(what, ok, detail=''):
    print(f'{"ok  " if ok else "FAIL"} {what}{": " + detail if detail and not ok else ""}', file=sys.stderr)
    if not ok:
        failures.append(what)


# Every client asks for signing; impacket seals with AES-128-CCM where the
# server asks.
smb3.SMB3.RequireMessageSigning = True


def logon(dialect, seal=False, user=USER, password=PASSWORD):
    c = SMBConnection(HOST, HOST, preferredDialect=dialect, timeout=5)
    # impacket signs only when it believes signing required: tell it so.
    c._SMBConnection._Connection['RequireSigning'] = True
    # impacket starts a 3.1.1 session's preauth hash from zeros; the session's
    # hash begins where the connection's ends.
    s = c._SMBConnection
    s._Session['PreauthIntegrityHashValue'] = s._Connection['PreauthIntegrityHashValue']
    # At 3.1.1 encryption is announced by the cipher context, which impacket
    # does not read.
    if dialect == SMB2_DIALECT_311:
        s._Connection['SupportsEncryption'] = True
    c.login(user, password)
    if seal and dialect >= SMB2_DIALECT_30:
        s._Session['SessionFlags'] |= SMB2_SESSION_FLAG_ENCRYPT_DATA
    return c


class Raw:
    """A logged-on impacket connection driven message by message."""

    def __init__(self, conn):
        self.conn = conn
        self.s = conn._SMBConnection
        self.nb = self.s._NetBIOSSession

    @property
    def sid(self):
        return self.s._Session['SessionID']

    def next_mid(self):
        mid = self.s._Connection['SequenceWindow']
        self.s._Connection['SequenceWindow'] += 1
        return mid

    def header(self, command, mid, tid=0, flags=0, nxt=0, sid=None, credits=16, status=0):
        sid = self.sid if sid is None else sid
        return (b'\xfeSMB' + struct.pack('<HHIHHIIQIIQ', 64, 1, status, command, credits, flags, nxt, mid,
                                         0xFEFF, tid, sid) + b'\0' * 16)

    def sign(self, element):
        if self.s._Connection['Dialect'] in (SMB2_DIALECT_002, SMB2_DIALECT_21):
            import hashlib
            import hmac
            mac = hmac.new(self.s._Session['SessionKey'], element, hashlib.sha256).digest()[:16]
        else:
            mac = crypto.AES_CMAC(self.s._Session['SigningKey'], element, len(element))
        return element[:48] + mac + element[64:]

    def element(self, command, body, tid=0, flags=SIGNED, nxt=0, mid=None, signed=True):
        mid = self.next_mid() if mid is None else mid
        e = self.header(command, mid, tid, flags, nxt) + body
        return self.sign(e) if signed and flags & SIGNED else e

    def send(self, data):
        self.nb.send_packet(data)

    def answers(self, wait=2.0):
        """The answer's elements as (status, command, next), or None when the
        server said nothing; 'closed' when it ended the connection."""
        try:
            data = self.nb.recv_packet(wait).get_trailer()
        except Exception as e:
            return 'closed' if 'onnection' in str(e) or isinstance(e, (ConnectionError, OSError)) else None
        if not data:
            return 'closed'
        out, at = [], 0
        while True:
            status, command = struct.unpack_from('<IH', data, at + 8)
            nxt = struct.unpack_from('<I', data, at + 20)[0]
            credits = struct.unpack_from('<H', data, at + 14)[0]
            out.append((status, command, nxt, credits))
            if not nxt:
                return out
            at += nxt

    def silent(self, wait=1.0):
        """True when nothing comes back within wait seconds."""
        self.nb._sock.settimeout(wait)
        try:
            self.nb._sock.recv(1, socket.MSG_PEEK)
            return False
        except socket.timeout:
            return True
        except OSError:
            return False
        finally:
            self.nb._sock.settimeout(None)

    def closed(self, wait=3.0):
        self.nb._sock.settimeout(wait)
        try:
            return self.nb._sock.recv(1) == b''
        except (ConnectionResetError, BrokenPipeError):
            return True
        except socket.timeout:
            return False


class ShareClient(Raw):
    """A Raw connection on a tree ("Share" unless told), read message by message."""

    def __init__(self, dialect, seal=False, share='Share'):
        conn = logon(dialect, seal)
        super().__init__(conn)
        self.tid = conn.connectTree(share)

    def message(self, wait=5.0):
        """The next message, whole, or None."""
        try:
            return self.nb.recv_packet(wait).get_trailer()
        except Exception:
            return None


def create_body(name, oplock=0, options=0x40, disposition=3, access=0x0012019F, sharing=7):
    """A CREATE body for name, sharing everything unless told."""
    wide = name.encode('utf-16-le')
    body = struct.pack('<HBBIQQIIIIIHHII', 57, 0, oplock, 2, 0, 0, access, 0, sharing, disposition, options, 120,
                       len(wide), 0, 0)
    return body + (wide or b'\0')


def status(m):
    """The NT status of a message, or None without one."""
    return struct.unpack_from('<I', m, 8)[0] if m else None


ECHO = struct.pack('<HH', 4, 0)


def served(what):
    """A fresh client logs on and echoes."""
    try:
        c = logon(SMB2_DIALECT_311)
        ok = c._SMBConnection.echo()
        c.close()
        check(f'{what}: a fresh client is served', bool(ok))
    except Exception as e:
        check(f'{what}: a fresh client is served', False, repr(e))


def dialects():
    for d in DIALECTS:
        name = NAMES[d]
        c = logon(d)
        s = c._SMBConnection
        check(f'{name}: negotiated', s._Connection['Dialect'] == d)
        check(f'{name}: signing on', s._Session['SigningActivated'] is True)
        for share in ('Share', 'IPC$'):
            tid = c.connectTree(share)
            check(f'{name}: tree {share}', tid > 0)
            c.disconnectTree(tid)
        if d >= SMB2_DIALECT_30:
            # The encrypted share: every request to it goes sealed (CCM).
            tid = c.connectTree('Secret')
            check(f'{name}: sealed tree Secret', s._Session['TreeConnectTable'][tid]['EncryptData'] is True)
            c.disconnectTree(tid)
            s._Session['SessionFlags'] |= SMB2_SESSION_FLAG_ENCRYPT_DATA
            check(f'{name}: sealed echo', bool(s.echo()))
        else:
            try:
                c.connectTree('Secret')
                check(f'{name}: Secret refused', False, 'connected')
            except SessionError as e:
                check(f'{name}: Secret refused with 0xC0000022', e.getErrorCode() == 0xC0000022,
                      hex(e.getErrorCode()))
        c.logoff()
    try:
        c = SMBConnection(HOST, HOST, preferredDialect=SMB2_DIALECT_311, timeout=5)
        c.login(USER, 'wrong')
        check('wrong password refused', False, 'logged on')
    except SessionError as e:
        check('wrong password: logon failure', e.getErrorCode() == 0xC000006D, hex(e.getErrorCode()))


def seal_with(key, plain, sid):
    nonce = bytes(random.getrandbits(8) for _ in range(11)) + b'\0' * 5
    header = nonce + struct.pack('<IHHQ', len(plain), 0, 1, sid)
    cipher = AES.new(key, AES.MODE_CCM, nonce[:11])
    cipher.update(header)
    body = cipher.encrypt(plain)
    return b'\xfdSMB' + cipher.digest() + header + body


def crafted():
    # A wrong StructureSize: invalid parameter, and still a credit.
    r = Raw(logon(SMB2_DIALECT_311))
    r.send(r.element(13, struct.pack('<HH', 5, 0)))
    a = r.answers()
    check('wrong StructureSize: 0xC000000D with a credit',
          isinstance(a, list) and a[0][0] == 0xC000000D and a[0][3] >= 1, repr(a))

    # A bad signature in a compound's first element: that one answered, no more.
    first = r.element(13, ECHO + b'\0' * 4, nxt=72)
    first = first[:48] + b'\x55' * 16 + first[64:]
    second = r.element(13, ECHO)
    r.send(first + second)
    a = r.answers()
    check('bad signature in the first element: one answer, 0xC0000022',
          isinstance(a, list) and len(a) == 1 and a[0][0] == 0xC0000022, repr(a))

    # The async flag does not stand in for a tree.
    r.send(r.element(4, ECHO, flags=SIGNED | ASYNC))
    a = r.answers()
    check('async TREE_DISCONNECT: 0xC00000C9', isinstance(a, list) and a[0][0] == 0xC00000C9, repr(a))

    # NextCommand far past the message.
    r.send(r.element(13, ECHO + b'\0' * 4, nxt=0xFFFFFFF8) + b'\0' * 64)
    a = r.answers()
    check('NextCommand 0xFFFFFFF8: 0xC000000D', isinstance(a, list) and a[0][0] == 0xC000000D, repr(a))

    # A MessageId used before: the client is dropped.
    mid = r.next_mid()
    r.send(r.element(13, ECHO, mid=mid))
    r.answers()
    r.send(r.element(13, ECHO, mid=mid))
    check('replayed MessageId: connection closed', r.closed())
    served('replayed MessageId')

    # Sealed with user A's key, naming user B: not opened, B goes on.
    a_conn, b_conn = logon(SMB2_DIALECT_311), logon(SMB2_DIALECT_311)
    b = Raw(b_conn)
    b.s.echo()  # asks for credits, as every client does once logged on
    a_key = a_conn._SMBConnection._Session['EncryptionKey']
    b.send(seal_with(a_key, b.element(13, ECHO, flags=0), b.sid))
    check('sealed with A\'s key naming B: no answer', b.silent())
    check('B is still served', bool(b.s.echo()))
    served('foreign transform')

    # Validate negotiate with another dialect list than NEGOTIATE's.
    c = logon(SMB2_DIALECT_30)
    tid = c.connectTree('IPC$')
    r = Raw(c)
    view = struct.pack('<I', c._SMBConnection._Connection['Capabilities']) + b'\0' * 16
    view += struct.pack('<HHHH', c._SMBConnection._Connection['ClientSecurityMode'], 2, 0x0202, 0x0300)
    body = struct.pack('<HHI', 57, 0, 0x00140204) + b'\xff' * 16
    body += struct.pack('<IIIIIIII', 64 + 56, len(view), 0, 0, 0, 24, 1, 0) + view
    r.send(r.element(11, body, tid=tid))
    check('changed validate negotiate: connection closed', r.closed())
    served('validate negotiate')


def crowd():
    clients = []
    for i in range(50):
        d = DIALECTS[i % 4]
        clients.append(logon(d, seal=True))
    time.sleep(1.2)
    for c in clients[1:]:
        c._SMBConnection.echo()
    extra = logon(SMB2_DIALECT_311, seal=True)
    check('the 51st is served', bool(extra._SMBConnection.echo()))
    try:
        clients[0]._SMBConnection.echo()
        check('the least recently active client was evicted', False, 'still served')
    except Exception:
        check('the least recently active client was evicted', True)
    alive = 0
    for c in clients[1:]:
        try:
            alive += bool(c._SMBConnection.echo())
        except Exception as e:
            print(f'  lost: {e!r}', file=sys.stderr)
    check('the other 49 keep echoing', alive == 49, f'{alive} answered')


def hostile():
    def connect():
        s = socket.create_connection((HOST, 445), timeout=5)
        return s

    def frame(payload, claimed=None):
        n = len(payload) if claimed is None else claimed
        return struct.pack('>I', n) + payload

    rng = random.Random(26)
    # Truncated and malformed messages, each on a connection of its own.
    for i in range(200):
        s = connect()
        kind = i % 5
        if kind == 0:
            s.sendall(frame(b'\xfeSMB' + bytes(rng.getrandbits(8) for _ in range(rng.randrange(0, 200)))))
        elif kind == 1:
            s.sendall(frame(b'\xfeSMB' + b'\0' * 20, claimed=5000))
        elif kind == 2:
            s.sendall(frame(b'\xfdSMB' + bytes(rng.getrandbits(8) for _ in range(48)) + b'\0' * 40))
        elif kind == 3:
            head = bytearray(b'\xfeSMB' + struct.pack('<HHIHHIIQIIQ', 64, 1, 0, 0, 1, 0, 64, 0, 0, 0, 0))
            head += b'\0' * 16
            body = struct.pack('<HHHHI', 36, 0xFFFF, 1, 0, 0) + b'\0' * 28
            s.sendall(frame(bytes(head) + body))
        else:
            s.sendall(frame(bytes(rng.getrandbits(8) for _ in range(rng.randrange(1, 100)))))
        s.close()
    served('malformed and truncated messages')

    # A flood of echoes whose answers are never read, a silent client and a
    # trickling one: the others are served meanwhile.
    flood = logon(SMB2_DIALECT_21)
    f = Raw(flood)
    for _ in range(3000):
        f.send(f.element(13, ECHO))
    silent = connect()
    trickler = connect()
    negotiate = frame(b'\xfeSMB' + b'\0' * 100)
    for byte in negotiate[:20]:
        trickler.sendall(bytes([byte]))
        time.sleep(0.02)
    start = time.time()
    served('flood, silent and trickling clients')
    check('served within 10 s', time.time() - start < 10, f'{time.time() - start:.1f} s')
    for s in (silent, trickler):
        s.close()


def negotiate_answer(dialects):
    """DialectRevision and status of a bare SMB2 NEGOTIATE offering dialects."""
    body = struct.pack('<HHHHI', 36, len(dialects), 1, 0, 0) + b'\0' * 16 + struct.pack('<IHH', 0, 0, 0)
    body += b''.join(struct.pack('<H', d) for d in dialects)
    msg = b'\xfeSMB' + struct.pack('<HHIHHIIQIIQ', 64, 0, 0, 0, 1, 0, 0, 0, 0xFEFF, 0, 0) + b'\0' * 16 + body
    with socket.create_connection((HOST, 445), timeout=5) as s:
        s.sendall(struct.pack('>I', len(msg)) + msg)
        data = b''
        while len(data) < 4 + 64 + 6:
            chunk = s.recv(4096)
            if not chunk:
                break
            data += chunk
    if len(data) < 4 + 64 + 6:
        return None, None
    return struct.unpack_from('<H', data, 4 + 64 + 4)[0], struct.unpack_from('<I', data, 4 + 8)[0]


def smb30():
    """SMB 3.0 as impacket speaks it out of the box (everything sealed with
    CCM once the server announces encryption), then signed with AES-CMAC and
    plain: IPC$ and a disk share, a file read and a pipe call each time. A
    server that cannot follow would leave impacket waiting: the 5 s timeout
    turns that into a failure."""
    for protection in ('sealed', 'signed', 'plain'):
        what = f'3.0 {protection}'
        try:
            c = SMBConnection(HOST, HOST, preferredDialect=SMB2_DIALECT_30, timeout=5)
            s = c._SMBConnection
            check(f'{what}: negotiated', s._Connection['Dialect'] == SMB2_DIALECT_30)
            check(f'{what}: encryption announced', s._Connection['SupportsEncryption'] is True)
            if protection != 'sealed':
                s._Connection['SupportsEncryption'] = False
            s._Connection['RequireSigning'] = protection == 'signed'
            c.login(USER, PASSWORD)
            check(f'{what}: session sealed', bool(s._Session['SessionFlags'] & SMB2_SESSION_FLAG_ENCRYPT_DATA)
                  == (protection == 'sealed'), hex(s._Session['SessionFlags']))
            check(f'{what}: signing', s._Session['SigningActivated'] is (protection == 'signed'))
            for share in ('IPC$', 'Share'):
                tid = c.connectTree(share)
                check(f'{what}: tree {share}', tid > 0)
                c.disconnectTree(tid)
            got = io.BytesIO()
            c.getFile('Share', 'file.txt', got.write)
            check(f'{what}: file read', got.getvalue() == b'hello\n', repr(got.getvalue()))
            t = transport.SMBTransport(HOST, filename='\\srvsvc', smb_connection=c)
            dce = t.get_dce_rpc()
            dce.connect()
            dce.bind(srvs.MSRPC_UUID_SRVS)
            names = [i['shi1_netname'][:-1] for i in
                     srvs.hNetrShareEnum(dce, 1)['InfoStruct']['ShareInfo']['Level1']['Buffer']]
            check(f'{what}: pipe call lists Share', 'Share' in names, repr(names))
            dce.disconnect()
            c.logoff()
            c.close()
        except Exception as e:
            check(f'{what}: served', False, repr(e))

    # 3.0.2 is not among the server's dialects: a client offering only it is
    # answered at once with no dialect, and one offering 3.0 beside it gets 3.0.
    start = time.time()
    try:
        SMBConnection(HOST, HOST, preferredDialect=SMB2_DIALECT_302, timeout=5)
        check('3.0.2 alone: refused', False, 'negotiated')
    except SessionError as e:
        check('3.0.2 alone: refused', False, hex(e.getErrorCode()))
    except Exception as e:
        check('3.0.2 alone: refused by impacket at once', 'dialect' in str(e) and time.time() - start < 4,
              f'{e!r} after {time.time() - start:.1f} s')
    for offered, answer in (([0x0302], 0xFFFF), ([0x0300, 0x0302], 0x0300), ([0x0302, 0x0210], 0x0210)):
        got = negotiate_answer(offered)
        check(f'negotiate {[hex(d) for d in offered]}: {hex(answer)}', got == (answer, 0), repr(got))
    served('3.0 and 3.0.2 clients')


if __name__ == '__main__':
    {'dialects': dialects, 'crafted': crafted, 'crowd': crowd, 'hostile': hostile, 'smb30': smb30}[sys.argv[1]]()
    if failures:
        print(f'{len(failures)} failed: {failures}', file=sys.stderr)
        sys.exit(1)
