# Crafted SMB2 READs and WRITEs against the running vxcs from impacket: the
# largest read, end of file, a zero write, data outside the message, and
# sealed compounds whose answers reach the end of the server's buffer.
# Usage: smb2_io.py SHARE_DIRECTORY
import os
import struct
import sys

from Cryptodome.Cipher import AES
from impacket.smb3structs import SMB2_DIALECT_21, SMB2_DIALECT_311

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from smb2_clients import ShareClient, check, create_body, failures, seal_with, status  # noqa: E402

share_dir = sys.argv[1]
CREATE, CLOSE, READ, WRITE, ECHO_CMD, QUERY_INFO, SET_INFO = 5, 6, 8, 9, 13, 16, 17
SIGNED, RELATED = 0x08, 0x04
SIZE = 70000


def read_body(fid, length, offset):
    return struct.pack('<HBBIQ', 49, 0, 0, length, offset) + fid + struct.pack('<IIIHHB', 0, 0, 0, 0, 0, 0)


def write_body(fid, data, offset, data_offset=112, length=None):
    length = len(data) if length is None else length
    return struct.pack('<HHIQ', 49, data_offset, length, offset) + fid + struct.pack('<IIHHI', 0, 0, 0, 0, 0) + data




class Client(ShareClient):
    def call(self, command, body):
        self.send(self.element(command, body, self.tid))
        return self.message()

    def open(self, name):
        m = self.call(CREATE, create_body(name))
        check(f'open {name}', status(m) == 0, hex(status(m) or 0))
        return m[64 + 64:64 + 80]


def unseal(key, data):
    """The plain message of a CCM-sealed answer, or None."""
    if not data or data[:4] != b'\xfdSMB' or len(data) < 52:
        return None
    nonce, header, body = data[20:31], data[20:52], data[52:]
    cipher = AES.new(key, AES.MODE_CCM, nonce)
    cipher.update(header)
    try:
        return cipher.decrypt_and_verify(body, data[4:20])
    except ValueError:
        return None


def limits():
    with open(os.path.join(share_dir, 'limits.bin'), 'wb') as f:
        f.write(bytes(i * 7 % 251 for i in range(SIZE)))
    c = Client(SMB2_DIALECT_311)
    fid = c.open('limits.bin')

    m = c.call(READ, read_body(fid, 65616, 0))
    got = struct.unpack_from('<I', m, 64 + 4)[0] if m and status(m) == 0 else -1
    check('READ of 65,616 bytes accepted', status(m) == 0 and got == 65616, f'{status(m)} {got}')
    m = c.call(READ, read_body(fid, 65617, 0))
    check('READ of 65,617 bytes: 0xC000000D', status(m) == 0xC000000D, hex(status(m) or 0))
    for offset in (SIZE, SIZE + 1, 1 << 62):
        m = c.call(READ, read_body(fid, 10, offset))
        check(f'READ at {offset}: 0xC0000011', status(m) == 0xC0000011, hex(status(m) or 0))
    m = c.call(READ, read_body(fid, 100, SIZE - 10))
    got = struct.unpack_from('<I', m, 64 + 4)[0] if m and status(m) == 0 else -1
    check('READ across the end: the bytes up to it', got == 10, str(got))

    # Offsets whose bytes would lie past 2^63 - 1.
    last = (1 << 63) - 1
    for what, command, body in (('READ', READ, read_body(fid, 10, last - 5)),
                                ('WRITE', WRITE, write_body(fid, b'abc', last - 1))):
        m = c.call(command, body)
        check(f'{what} past the largest offset: 0xC000000D', status(m) == 0xC000000D, hex(status(m) or 0))

    m = c.call(WRITE, write_body(fid, b'', 100))
    check('zero WRITE: accepted', status(m) == 0, hex(status(m) or 0))
    check('zero WRITE sets the length', os.path.getsize(os.path.join(share_dir, 'limits.bin')) == 100)

    cases = (('Length past the message', write_body(fid, b'abc', 0, length=4)),
             ('Length far past the message', write_body(fid, b'abc', 0, length=0x7FFFFFF0)),
             ('DataOffset past the message', write_body(fid, b'abc', 0, data_offset=0xFFF0)))
    for what, body in cases:
        m = c.call(WRITE, body)
        check(f'WRITE with {what}: 0xC000000D', status(m) == 0xC000000D, hex(status(m) or 0))
    check('nothing written by refused WRITEs', os.path.getsize(os.path.join(share_dir, 'limits.bin')) == 100)
    # A rename whose name climbs out of the share.
    wide = '..\\x'.encode('utf-16-le')
    info = struct.pack('<B7sQI', 0, b'', 0, len(wide)) + wide
    body = struct.pack('<HBBIHHI', 33, 1, 10, len(info), 96, 0, 0) + fid + info
    m = c.call(SET_INFO, body)
    check('rename to ..\\x refused', status(m) not in (0, None), hex(status(m) or 0))
    check('nothing renamed out of the share', not os.path.exists(os.path.join(share_dir, '..', 'x')) and
          os.path.exists(os.path.join(share_dir, 'limits.bin')))
    check('still served', bool(c.s.echo()))


def sealed():
    with open(os.path.join(share_dir, 'sealed.bin'), 'wb') as f:
        f.write(bytes(i * 13 % 251 for i in range(SIZE)))
    c = Client(SMB2_DIALECT_311, seal=True)
    fid = c.open('sealed.bin')
    key_in = c.s._Session['EncryptionKey']
    key_out = c.s._Session['DecryptionKey']
    # ECHO answers first, then a READ that asks for all the room: its data
    # must stop at the buffer's end, behind the transform and the echoes.
    echo = struct.pack('<HH', 4, 0) + b'\0' * 4
    for echoes in (1, 2):
        parts = [c.element(ECHO_CMD, echo, c.tid, flags=0, nxt=72) for _ in range(echoes)]
        parts.append(c.element(READ, read_body(fid, 65616, 0), c.tid, flags=0))
        c.send(seal_with(key_in, b''.join(parts), c.sid))
        plain = unseal(key_out, c.message())
        check(f'sealed READ behind {echoes} echo(es) answered', plain is not None)
        if plain is None:
            continue
        at = 72 * echoes
        room = 65700 - 4 - 52 - at - 64 - 16
        got = struct.unpack_from('<I', plain, at + 64 + 4)[0] if status(plain[at:]) == 0 else -1
        check(f'sealed READ behind {echoes} echo(es): cut to the room', got == room, f'{got} {room}')
        check('sealed READ data', plain[at + 80:] == bytes(i * 13 % 251 for i in range(room)))
    check('sealed client still served', bool(c.s.echo()))


if os.environ.get('SMB2IO_ONLY', 'limits') == 'limits':
    limits()
sealed()
if failures:
    print('failed: ' + ', '.join(failures), file=sys.stderr)
    sys.exit(1)
