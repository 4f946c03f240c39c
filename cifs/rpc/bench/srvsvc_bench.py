# Times NetrShareEnum level 1 on one bound connection: ours on the port
# given, Samba's where its endpoint mapper says; alternating rounds.
import socket
import struct
import sys
import time

from impacket.dcerpc.v5 import epm, srvs
from impacket.uuid import uuidtup_to_bin

ours_port, calls = int(sys.argv[1]), int(sys.argv[2])
binding = epm.hept_map('127.0.0.1', srvs.MSRPC_UUID_SRVS, protocol='ncacn_ip_tcp')
samba_port = int(binding.split('[')[1].rstrip(']'))

NDR = uuidtup_to_bin(('8a885d04-1ceb-11c9-9fe8-08002b104860', '2.0'))
SRVSVC = uuidtup_to_bin(('4b324fc8-1670-01d3-1278-5a47bf6ee188', '3.0'))


def pdu(ptype, body, call):
    return struct.pack('<BBBB4sHHI', 5, 0, ptype, 3, b'\x10\0\0\0', 16 + len(body), 0, call) + body


def read_answer(s):
    # Every fragment of one answer; the stub's last word is the status.
    stub = b''
    while True:
        head = s.recv(16, socket.MSG_WAITALL)
        length = struct.unpack('<H', head[8:10])[0]
        body = s.recv(length - 16, socket.MSG_WAITALL)
        stub += body[8:] if head[2] in (2, 3) else body
        if head[3] & 2:
            return head[2], stub


def connect(port):
    s = socket.create_connection(('127.0.0.1', port))
    s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    s.sendall(pdu(11, struct.pack('<HHIB3x', 4280, 4280, 0, 1) + struct.pack('<HBx', 0, 1) + SRVSVC + NDR, 1))
    ptype, _ = read_answer(s)
    assert ptype == 12, f'bind refused on {port}'
    return s


server = '\\\\127.0.0.1\0'.encode('utf-16-le')
n = len(server) // 2
stub = (struct.pack('<IIII', 0x20000, n, 0, n) + server + b'\0' * (-len(server) % 4) +
        struct.pack('<III', 1, 1, 0x20004) + struct.pack('<II', 0, 0) + struct.pack('<II', 0xFFFFFFFF, 0))
request = pdu(0, struct.pack('<IHH', len(stub), 0, 15) + stub, 2)

sides = {'ours': connect(ours_port), 'samba': connect(samba_port)}
for name, s in sides.items():
    s.sendall(request)
    ptype, answer = read_answer(s)
    status = struct.unpack('<I', answer[-4:])[0]
    count = struct.unpack('<I', answer[12:16])[0]
    print(f'{name}: {count} shares, status {status}')
    assert ptype == 2 and status == 0 and count == 15, f'{name} does not list 15 shares'

totals = {name: 0.0 for name in sides}
rounds = 10
for _ in range(rounds):
    for name, s in sides.items():
        start = time.perf_counter()
        for _ in range(calls // rounds):
            s.sendall(request)
            read_answer(s)
        totals[name] += time.perf_counter() - start
for name, t in totals.items():
    print(f'{name}: {calls} calls in {t:.3f} s ({1e6 * t / calls:.0f} us a call)')
print(f'ratio ours/samba: {totals["ours"] / totals["samba"]:.2f}')
