# The pipe framework with the workstation and server services as a real
# DCE/RPC client (impacket) sees them over ncacn_ip_tcp, through the pipe
# probe: every level impacket decodes, answers that span fragments, requests
# sent in fragments, then crafted PDUs (255 items, headers split over
# writes, frag_length 10, NDR64 first, big-endian, tiny and huge
# max_recv_frag, 2 MiB without LAST, counts beyond the stub). impacket must
# still be served afterwards, and the probe must stop cleanly under the
# sanitizers.
import os
import random
import socket
import struct
import subprocess
import sys
import time

from impacket.dcerpc.v5 import rpcrt, srvs, transport, wkst
from impacket.dcerpc.v5.dtypes import NULL
from impacket.uuid import uuidtup_to_bin

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from checks import check, finish  # noqa: E402

probe = sys.argv[1]
SRVSVC_ADMIN, SRVSVC_PLAIN, WKSSVC, LSARPC = 7001, 7002, 7003, 7004
LONG = 'x' * 240
SHARES = ['docs;/mnt/usb/docs;my documents', 'music;/mnt/usb/music;' + LONG] + \
         [f'share{i};/mnt/usb/s{i};{LONG}' for i in range(11)]


def text(value):
    return value[:-1] if isinstance(value, str) and value.endswith('\x00') else value


def connect(port, iface, frag=0):
    t = transport.DCERPCTransportFactory(f'ncacn_ip_tcp:127.0.0.1[{port}]')
    dce = t.get_dce_rpc()
    if frag:
        dce.set_max_fragment_size(frag)
    dce.connect()
    dce.bind(iface)
    return dce


def error_of(call):
    try:
        call()
    except rpcrt.DCERPCException as e:
        return e.get_error_code()
    except Exception as e:  # a union impacket cannot decode is still a refusal
        return type(e).__name__
    return 0


def dropped(dce):
    # impacket waits forever on a closed TCP connection: ask the socket.
    s = dce.get_rpc_transport().get_socket()
    s.settimeout(5)
    try:
        s.sendall(bytes([5, 0, 0, 3, 0x10, 0, 0, 0, 24, 0, 0, 0, 9, 0, 0, 0]) + bytes(8))
        return s.recv(1) == b''
    except (ConnectionResetError, BrokenPipeError):
        return True


p = subprocess.Popen([probe, f'{SRVSVC_ADMIN}:srvsvc:admin', f'{SRVSVC_PLAIN}:srvsvc:plain', f'{WKSSVC}:wkssvc:admin',
                      f'{LSARPC}:lsarpc:admin', '--'] + SHARES, stdout=subprocess.PIPE, text=True)
if p.stdout.readline().strip() != 'ready':
    sys.exit('probe did not start')

# ---- wkssvc ------------------------------------------------------------------
dce = connect(WKSSVC, wkst.MSRPC_UUID_WKST)
for level in (100, 101, 102):
    info = wkst.hNetrWkstaGetInfo(dce, level)['WkstaInfo'][f'WkstaInfo{level}']
    check(f'wkssvc {level} name', text(info[f'wki{level}_computername']), 'ROUTER')
    check(f'wkssvc {level} group', text(info[f'wki{level}_langroup']), 'WORKGROUP')
    check(f'wkssvc {level} version', (info[f'wki{level}_ver_major'], info[f'wki{level}_ver_minor']), (2, 0))
check('wkssvc 103 refused', error_of(lambda: wkst.hNetrWkstaGetInfo(dce, 103)) != 0, True)
transports = wkst.hNetrWkstaTransportEnum(dce, 0)
entries = transports['TransportInfo']['WkstaTransportInfo']['Level0']['Buffer']
check('wkssvc one transport', len(entries), 1)
check('wkssvc transport name', text(entries[0]['wkti0_transport_name']), '\\Device\\NetbiosSmb')
check('wkssvc transport total', transports['TotalEntries'], 1)
dce.disconnect()

# ---- srvsvc ------------------------------------------------------------------
dce = connect(SRVSVC_ADMIN, srvs.MSRPC_UUID_SRVS)
names = [text(s['shi1_netname']) for s in
         srvs.hNetrShareEnum(dce, 1)['InfoStruct']['ShareInfo']['Level1']['Buffer']]
check('srvsvc shares at level 1', names, ['IPC$', 'docs', 'music'] + [f'share{i}' for i in range(11)] + ['C$'])
remarks = [text(s['shi1_remark']) for s in
           srvs.hNetrShareEnum(dce, 1)['InfoStruct']['ShareInfo']['Level1']['Buffer']]
check('srvsvc long remarks across fragments', remarks[2:14], [LONG] * 12)
paths = [text(s['shi2_path']) for s in srvs.hNetrShareEnum(dce, 2)['InfoStruct']['ShareInfo']['Level2']['Buffer']]
check('srvsvc windows paths', (paths[0], paths[1], paths[-1]), ('', '\\mnt\\usb\\docs', 'C:'))
info = srvs.hNetrShareGetInfo(dce, 'docs\x00', 502)['InfoStruct']['ShareInfo502']
check('srvsvc 502 remark', text(info['shi502_remark']), 'my documents')
check('srvsvc 502 descriptor', info['shi502_reserved'] == len(b''.join(info['shi502_security_descriptor'])), True)
check('srvsvc unknown share', error_of(lambda: srvs.hNetrShareGetInfo(dce, 'nosuch\x00', 1)), 2310)
server = srvs.hNetrServerGetInfo(dce, 102)['InfoStruct']['ServerInfo102']
check('srvsvc server name', text(server['sv102_name']), 'ROUTER')
check('srvsvc server type', server['sv102_type'], 0x8202)
check('srvsvc server 103', error_of(lambda: srvs.hNetrServerGetInfo(dce, 103)) != 0, True)
sessions = srvs.hNetrSessionEnum(dce, NULL, NULL, 1)['InfoStruct']['SessionInfo']['Level1']['Buffer']
check('srvsvc sessions', sorted(text(s['sesi1_username']) for s in sessions), ['admin'])
check('srvsvc name validate', srvs.hNetprNameValidate(dce, 'docs\x00', 9)['ErrorCode'], 0)

share = srvs.SHARE_INFO_2()
share['shi2_netname'] = 'added\x00'
share['shi2_type'] = 0
share['shi2_remark'] = 'new one\x00'
share['shi2_permissions'] = 0
share['shi2_max_uses'] = 0xFFFFFFFF
share['shi2_current_uses'] = 0
share['shi2_path'] = 'C:\\mnt\\usb\\docs\\added\x00'
share['shi2_passwd'] = NULL
config = open('/var/run/cifs/cs_cfg.txt').read()
check('srvsvc share add with a full table', error_of(lambda: srvs.hNetrShareAdd(dce, 2, share)), 8)
check('srvsvc full table left nothing', open('/var/run/cifs/cs_cfg.txt').read(), config)
srvs.hNetrShareDel(dce, 'share10\x00')
srvs.hNetrShareAdd(dce, 2, share)
check('srvsvc added share stored', 'added;/var/run/cifs/mnt/usb/docs/added;new one' in
      open('/var/run/cifs/cs_cfg.txt').read(), True)
check('srvsvc duplicate', error_of(lambda: srvs.hNetrShareAdd(dce, 2, share)), 2118)
share['shi2_netname'] = 'other\x00'
share['shi2_path'] = 'C:\\..\\..\\etc\x00'
check('srvsvc dot-dot refused', error_of(lambda: srvs.hNetrShareAdd(dce, 2, share)), 87)
check('srvsvc level 1005 refused', error_of(lambda: srvs.hNetrShareAdd(dce, 1005, srvs.SHARE_INFO_1005())), 124)
check('srvsvc nothing left', 'other' in open('/var/run/cifs/cs_cfg.txt').read(), False)
check('srvsvc no placeholder', '__temp__' in open('/var/run/cifs/cs_cfg.txt').read(), False)
files = srvs.hNetrFileEnum(dce, NULL, NULL, 3)['InfoStruct']['FileInfo']['Level3']['Buffer']
check('srvsvc own pipe listed', [text(f['fi3_path_name']) for f in files], ['\\srvsvc'])

plain = connect(SRVSVC_PLAIN, srvs.MSRPC_UUID_SRVS)
check('srvsvc plain level 2', error_of(lambda: srvs.hNetrShareEnum(plain, 2)), 5)
check('srvsvc plain add', error_of(lambda: srvs.hNetrShareAdd(plain, 2, share)), 5)
check('srvsvc plain sessions', error_of(lambda: srvs.hNetrSessionEnum(plain, NULL, NULL, 1)), 5)
# Deleting another client's session drops that client.
check('srvsvc delete plain', srvs.hNetrSessionDel(dce, NULL, 'plain\x00')['ErrorCode'], 0)
check('srvsvc plain dropped', dropped(plain), True)
# Closing one's own pipe, and deleting one's own session: answered, then gone.
own = srvs.hNetrFileEnum(dce, NULL, NULL, 3)['InfoStruct']['FileInfo']['Level3']['Buffer'][0]['fi3_id']
check('srvsvc close own pipe', srvs.hNetrFileClose(dce, own)['ErrorCode'], 0)
check('srvsvc own pipe gone', dropped(dce), True)
dce = connect(SRVSVC_ADMIN, srvs.MSRPC_UUID_SRVS)
check('srvsvc delete own session', srvs.hNetrSessionDel(dce, NULL, 'admin\x00')['ErrorCode'], 0)

# A request sent in fragments of 64 bytes is joined.
dce = connect(SRVSVC_ADMIN, srvs.MSRPC_UUID_SRVS, frag=64)
check('srvsvc fragmented request', text(srvs.hNetrShareGetInfo(dce, 'docs\x00', 1)['InfoStruct']['ShareInfo1']
                                        ['shi1_remark']), 'my documents')
dce.disconnect()

# ---- crafted PDUs --------------------------------------------------------------
NDR = uuidtup_to_bin(('8a885d04-1ceb-11c9-9fe8-08002b104860', '2.0'))
NDR64 = uuidtup_to_bin(('71710533-beba-4937-8319-b5dbef9ccc36', '1.0'))
SRVSVC = uuidtup_to_bin(('4b324fc8-1670-01d3-1278-5a47bf6ee188', '3.0'))


def pdu(ptype, body, big=False, flags=3, call=1, minor=0, frag=None):
    e = '>' if big else '<'
    return struct.pack(e + 'BBBB4sHHI', 5, minor, ptype, flags, b'\x00\x00\x00\x00' if big else b'\x10\x00\x00\x00',
                       16 + len(body) if frag is None else frag, 0, call) + body


def bind_body(items, max_recv=4280, big=False):
    e = '>' if big else '<'
    out = struct.pack(e + 'HHIB3x', 4280, max_recv, 0, len(items))
    for cid, syntaxes in items:
        out += struct.pack(e + 'HBx', cid, len(syntaxes))
        out += swap_uuid(SRVSVC, big)
        for s in syntaxes:
            out += swap_uuid(s, big)
    return out


def swap_uuid(b, big):
    # uuidtup_to_bin is little-endian fields and a little-endian version.
    if not big:
        return b
    u, v = b[:16], b[16:]
    return u[3::-1] + u[5:3:-1] + u[7:5:-1] + u[8:] + struct.pack('>HH', *struct.unpack('<HH', v))


def exchange(data, pieces=None, port=SRVSVC_ADMIN):
    s = socket.create_connection(('127.0.0.1', port))
    s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    s.settimeout(5)
    for part in pieces or [data]:
        s.sendall(part)
        time.sleep(0.02)
    return s


def recv_pdu(s):
    head = b''
    while len(head) < 16:
        chunk = s.recv(16 - len(head))
        if not chunk:
            return None
        head += chunk
    big = head[4] & 0x10 == 0
    length = struct.unpack('>H' if big else '<H', head[8:10])[0]
    body = b''
    while len(head) + len(body) < length:
        chunk = s.recv(length - 16 - len(body))
        if not chunk:
            return None
        body += chunk
    return head + body


def closed(s):
    try:
        return s.recv(1) == b''
    except ConnectionResetError:
        return True
    except (socket.timeout, BlockingIOError):
        return False


ack = recv_pdu(exchange(pdu(11, bind_body([(i % 20, [NDR]) for i in range(255)], 65535))))
check('255-item bind acknowledged', (ack[2], len(ack)), (12, 16 + 28 + 255 * 24))
whole = pdu(11, bind_body([(0, [NDR])]))
s = exchange(None, [whole[:3], whole[3:11], whole[11:30], whole[30:]])
check('bind header split over writes', recv_pdu(s)[2], 12)
check('frag_length 10 refused', closed(exchange(pdu(11, b'\x00' * 20, frag=10))), True)
nak = recv_pdu(exchange(pdu(11, bind_body([(0, [NDR64, NDR])]))))
check('NDR64 first', (nak[2], struct.unpack('<H', nak[16:18])[0]), (13, 2))
nak = recv_pdu(exchange(pdu(11, bind_body([(0, [NDR])]), minor=1)))
check('version 5.1', (nak[2], struct.unpack('<H', nak[16:18])[0], nak[18:21]), (13, 4, b'\x01\x05\x00'))
ack = recv_pdu(exchange(pdu(11, bind_body([(0, [NDR])], big=True), big=True)))
check('big-endian bind answered big-endian', (ack[2], ack[4], struct.unpack('>H', ack[16:18])[0]), (12, 0, 65448))

# A share list longer than the fragment size a bind allowed.
enum = (struct.pack('<III', 0, 1, 1) + struct.pack('<IIII', 0x20000, 0, 0, 0xFFFFFFFF) + struct.pack('<I', 0))
for max_recv, least in ((24, 1432), (65535, 65535)):
    s = exchange(pdu(11, bind_body([(0, [NDR])], max_recv)))
    recv_pdu(s)
    s.sendall(pdu(0, struct.pack('<IHH', len(enum), 0, 15) + enum, call=2))
    sizes, flags = [], []
    while True:
        frag = recv_pdu(s)
        sizes.append(len(frag))
        flags.append(frag[3])
        if frag[3] & 2:
            break
    check(f'max_recv_frag {max_recv}: fragments fit', max(sizes) <= least, True)
    check(f'max_recv_frag {max_recv}: first and last flags', (flags[0] & 1, flags[-1] & 2), (1, 2))

s = exchange(pdu(11, bind_body([(0, [NDR])])))
recv_pdu(s)
try:
    for i in range(40):
        s.sendall(pdu(0, struct.pack('<IHH', 0, 0, 15) + b'\x00' * 65000, flags=1 if i == 0 else 0, call=3))
    refused = closed(s)
except (BrokenPipeError, ConnectionResetError):
    refused = True
check('2 MiB without LAST refused', refused, True)

s = exchange(pdu(11, bind_body([(0, [NDR])])))
recv_pdu(s)
huge = struct.pack('<I', 0) + struct.pack('<III', 0x7FFFFFFF, 0, 0x7FFFFFFF) + b'd\x00o\x00'
s.sendall(pdu(0, struct.pack('<IHH', len(huge), 0, 16) + huge, call=4))
fault = recv_pdu(s)
check('counts beyond the stub', (fault[2], struct.unpack('<I', fault[24:28])[0]), (3, 0x6F7))

lsa = recv_pdu(exchange(pdu(0, struct.pack('<IHH', 0, 0, 0)), port=LSARPC))
check('request before any bind', (lsa[2], struct.unpack('<I', lsa[24:28])[0]), (3, 0x1C00001A))

# ---- a crowd: silent clients holding half a header, garbage, more than fit ------

random.seed(7)
crowd = []
for i in range(60):
    try:
        c = socket.create_connection(('127.0.0.1', WKSSVC), timeout=2)
        c.sendall(whole[:7] if i % 2 else bytes(random.randrange(256) for _ in range(random.randrange(1, 200))))
        crowd.append(c)
    except OSError:
        pass
time.sleep(0.5)
# More clients than the database holds: the ones without room are closed.
check('crowd beyond the database closed', sum(closed(c) for c in crowd[50:]) > 0, True)
for c in crowd:
    c.close()
time.sleep(0.5)

# ---- smbtorture as a robustness driver --------------------------------------------
# Its srvsvc suite calls operations this server does not have too; the ones
# it has must pass, and nothing it sends may hurt the probe.
torture = subprocess.run(['smbtorture', '-U%', f'ncacn_ip_tcp:127.0.0.1[{SRVSVC_ADMIN}]', 'rpc.srvsvc'],
                         capture_output=True, text=True, timeout=60)
passed = {line.split('.', 1)[1].strip() for line in torture.stdout.splitlines()
          if line.startswith('success: srvsvc (admin access).')}
for subtest in ('NetConnEnum', 'NetFileEnum', 'NetSessEnum', 'NetSrvGetInfo', 'NetNameValidate'):
    check(f'smbtorture rpc.srvsvc {subtest}', subtest in passed, True)

# ---- served afterwards -----------------------------------------------------------
dce = connect(WKSSVC, wkst.MSRPC_UUID_WKST)
check('still served', text(wkst.hNetrWkstaGetInfo(dce, 100)['WkstaInfo']['WkstaInfo100']['wki100_computername']),
      'ROUTER')
dce.disconnect()

p.terminate()
out, _ = p.communicate(timeout=30)
check('probe stopped cleanly', (p.returncode, out.strip()), (0, 'stopped'))
finish()
