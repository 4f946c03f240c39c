# Times NetrShareEnum level 1 on one bound connection: ours on the port
# given, Samba's where its endpoint mapper says; alternating rounds. With
# SMB_PORT, then the same PDU through the srvsvc pipe of one SMB 2.1
# connection, written then read as impacket's pipe transport does: vxcs on
# port 445 and smbd on SMB_PORT. Arguments: PORT CALLS [SMB_PORT].
import socket
import struct
import sys
import time

from impacket.dcerpc.v5 import epm, srvs, transport
from impacket.smb3structs import SMB2_DIALECT_21
from impacket.smbconnection import SMBConnection
from impacket.uuid import uuidtup_to_bin

ours_port, calls = int(sys.argv[1]), int(sys.argv[2])
smb_port = int(sys.argv[3]) if len(sys.argv) > 3 else None
binding = epm.hept_map('127.0.0.1', srvs.MSRPC_UUID_SRVS, protocol='ncacn_ip_tcp')
samba_port = int(binding.split('[')[1].rstrip(']'))

NDR = uuidtup_to_bin(('8a885d04-1ceb-11c9-9fe8-08002b104860', '2.0'))
SRVSVC = uuidtup_to_bin(('4b324fc8-1670-01d3-1278-5a47bf6ee188', '3.0'))


def pdu(ptype, body, call):
    return struct.pack('<BBBB4sHHI', 5, 0, ptype, 3, b'\x10\0\0\0', 16 + len(body), 0, call) + body


def read_answer(recv):
    # Every fragment of one answer; the stub's last word is the status.
    stub = b''
    while True:
        head = recv(16)
        length = struct.unpack('<H', head[8:10])[0]
        body = recv(length - 16)
        stub += body[8:] if head[2] in (2, 3) else body
        if head[3] & 2:
            return head[2], stub


def over_tcp(port):
    s = socket.create_connection(('127.0.0.1', port))
    s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    return s.sendall, lambda n: s.recv(n, socket.MSG_WAITALL)


def over_smb(port, user, password):
    conn = SMBConnection('127.0.0.1', '127.0.0.1', sess_port=port, preferredDialect=SMB2_DIALECT_21)
    conn.login(user, password)
    t = transport.SMBTransport('127.0.0.1', port, filename='\\srvsvc', smb_connection=conn)
    t.connect()
    held = b''

    # A pipe read gives a whole fragment: hand it out as asked.
    def recv(n):
        nonlocal held
        while len(held) < n:
            held += t.recv()
        got, held = held[:n], held[n:]
        return got
    return t.send, recv


def bound(send, recv):
    send(pdu(11, struct.pack('<HHIB3x', 4280, 4280, 0, 1) + struct.pack('<HBx', 0, 1) + SRVSVC + NDR, 1))
    ptype, _ = read_answer(recv)
    assert ptype == 12, 'bind refused'
    return send, recv


server = '\\\\127.0.0.1\0'.encode('utf-16-le')
n = len(server) // 2
stub = (struct.pack('<IIII', 0x20000, n, 0, n) + server + b'\0' * (-len(server) % 4) +
        struct.pack('<III', 1, 1, 0x20004) + struct.pack('<II', 0, 0) + struct.pack('<II', 0xFFFFFFFF, 0))
request = pdu(0, struct.pack('<IHH', len(stub), 0, 15) + stub, 2)


def race(sides, what):
    for name, (send, recv) in sides.items():
        send(request)
        ptype, answer = read_answer(recv)
        status = struct.unpack('<I', answer[-4:])[0]
        count = struct.unpack('<I', answer[12:16])[0]
        print(f'{name}: {count} shares, status {status}')
        assert ptype == 2 and status == 0 and count == 15, f'{name} does not list 15 shares'
    totals = {name: 0.0 for name in sides}
    rounds = 10
    for _ in range(rounds):
        for name, (send, recv) in sides.items():
            start = time.perf_counter()
            for _ in range(calls // rounds):
                send(request)
                read_answer(recv)
            totals[name] += time.perf_counter() - start
    for name, t in totals.items():
        print(f'{name}: {calls} calls {what} in {t:.3f} s ({1e6 * t / calls:.0f} us a call)')
    first, second = totals
    print(f'ratio {first}/{second} {what}: {totals[first] / totals[second]:.2f}')


race({'ours': bound(*over_tcp(ours_port)), 'samba': bound(*over_tcp(samba_port))}, 'over TCP')
if smb_port:
    race({'vxcs': bound(*over_smb(445, 'alice', 'Secret#1')), 'smbd': bound(*over_smb(smb_port, 'guest', ''))},
         'over SMB')
