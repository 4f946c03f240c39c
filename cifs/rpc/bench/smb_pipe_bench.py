# Times NetrShareEnum level 1 through the srvsvc pipe of one logged-on SMB
# 2.1 connection, written then read as impacket's pipe transport does: vxcs
# on port 445 and Samba's smbd on the port given, the same shares;
# alternating rounds. Arguments: SAMBA_PORT CALLS.
import struct
import sys
import time

from impacket.dcerpc.v5 import srvs, transport
from impacket.smb3structs import SMB2_DIALECT_21
from impacket.smbconnection import SMBConnection

samba_port, calls = int(sys.argv[1]), int(sys.argv[2])


def bound(port, user, password):
    conn = SMBConnection('127.0.0.1', '127.0.0.1', sess_port=port, preferredDialect=SMB2_DIALECT_21)
    conn.login(user, password)
    t = transport.SMBTransport('127.0.0.1', port, filename='\\srvsvc', smb_connection=conn)
    dce = t.get_dce_rpc()
    dce.connect()
    dce.bind(srvs.MSRPC_UUID_SRVS)
    return t, dce


req = srvs.NetrShareEnum()
req['ServerName'] = srvs.NULL
req['InfoStruct']['Level'] = 1
req['InfoStruct']['ShareInfo']['tag'] = 1
req['InfoStruct']['ShareInfo']['Level1']['Buffer'] = srvs.NULL
req['PreferedMaximumLength'] = 0xFFFFFFFF
req['ResumeHandle'] = srvs.NULL
stub = req.getData()
# One REQUEST PDU, sent as it is each time: the clients' NDR stays out of the
# figures.
request = struct.pack('<BBBB4sHHIIHH', 5, 0, 0, 3, b'\x10\0\0\0', 24 + len(stub), 0, 2, len(stub), 0, 15) + stub


def call(t):
    answer = t.recv()
    while not answer[3] & 2:  # fragments up to the last
        answer = t.recv()
    return answer


sides = {'vxcs': bound(445, 'alice', 'Secret#1'), 'smbd': bound(samba_port, 'guest', '')}
for name, (t, dce) in sides.items():
    count = srvs.hNetrShareEnum(dce, 1)['InfoStruct']['ShareInfo']['Level1']['EntriesRead']
    print(f'{name}: {count} shares')
    assert count == 15, f'{name} does not list 15 shares'

totals = {name: 0.0 for name in sides}
rounds = 10
for _ in range(rounds):
    for name, (t, _) in sides.items():
        start = time.perf_counter()
        for _ in range(calls // rounds):
            t.send(request)
            call(t)
        totals[name] += time.perf_counter() - start
for name, t in totals.items():
    print(f'{name}: {calls} calls over SMB in {t:.3f} s ({1e6 * t / calls:.0f} us a call)')
print(f'ratio vxcs/smbd over SMB: {totals["vxcs"] / totals["smbd"]:.2f}')
