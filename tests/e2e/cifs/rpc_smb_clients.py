# impacket against vxcs's pipes over SMB1, SMB2.1 and SMB3: wkssvc, share addition refusals
# that must leave nothing in cs_cfg.txt, NetrSessionDel of another client
# and of one's own session, NetrFileClose of one's own pipe, NMPIPE state
# and information, the LANMAN API decoded by hand with large and small
# buffers, and open/bind/call/close cycles with flat memory and no record
# left. Arguments: ADMIN%PASSWORD PLAIN%PASSWORD SERVER_PID [CYCLES].
import os
import struct
import sys

from impacket import smb
from impacket.dcerpc.v5 import rpcrt, srvs, transport, wkst
from impacket.smb3structs import SMB2_DIALECT_311
from impacket.smbconnection import SMBConnection

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from checks import check, finish  # noqa: E402
from smb2_clients import logon  # noqa: E402  (impacket's SMB3 signing and sealing set right)

admin, plain = (a.split('%', 1) for a in sys.argv[1:3])
server_pid = int(sys.argv[3])
cycles = int(sys.argv[4]) if len(sys.argv) > 4 else 200
CFG = '/var/run/cifs/cs_cfg.txt'


def connect(user, dialect, seal=False):
    if dialect != smb.SMB_DIALECT:
        return logon(dialect, seal, user[0], user[1])
    c = SMBConnection('127.0.0.1', '127.0.0.1', preferredDialect=dialect, timeout=10)
    c.login(user[0], user[1])
    return c


def pipe(conn, name, uuid):
    t = transport.SMBTransport('127.0.0.1', filename='\\' + name, smb_connection=conn)
    dce = t.get_dce_rpc()
    dce.connect()
    dce.bind(uuid)
    return dce


def srvsvc(conn):
    return pipe(conn, 'srvsvc', srvs.MSRPC_UUID_SRVS)


def error_of(call):
    try:
        call()
    except rpcrt.DCERPCException as e:
        return e.get_error_code()
    return 0


def config():
    with open(CFG) as f:
        return f.read()


def rss_kb():
    with open(f'/proc/{server_pid}/status') as f:
        for line in f:
            if line.startswith('VmRSS:'):
                return int(line.split()[1])
    return 0


def share_info_2(name, path, remark='r'):
    info = srvs.SHARE_INFO_2()
    info['shi2_netname'] = name + '\x00'
    info['shi2_type'] = 0
    info['shi2_remark'] = remark + '\x00'
    info['shi2_permissions'] = 0
    info['shi2_max_uses'] = 0xFFFFFFFF
    info['shi2_current_uses'] = 0
    info['shi2_path'] = path + '\x00'
    info['shi2_passwd'] = '\x00'
    return info


# ---- wkssvc over SMB1 (TRANSACT_NMPIPE), 2.1 and 3.1.1 sealed (transceive) ----
from impacket.smb3structs import SMB2_DIALECT_21  # noqa: E402

for dialect, seal, label in ((smb.SMB_DIALECT, False, 'SMB1'), (SMB2_DIALECT_21, False, 'SMB2.1'),
                             (SMB2_DIALECT_311, True, 'SMB3 sealed')):
    dce = pipe(connect(admin, dialect, seal), 'wkssvc', wkst.MSRPC_UUID_WKST)
    for level in (100, 101, 102):
        info = wkst.hNetrWkstaGetInfo(dce, level)['WkstaInfo'][f'WkstaInfo{level}']
        check(f'{label} wkssvc {level} name', info[f'wki{level}_computername'].rstrip('\x00'), 'ROUTER')
    # Level 103 is answered with its status inside a RESPONSE, not a fault.
    check(f'{label} wkssvc 103 refused', error_of(lambda: wkst.hNetrWkstaGetInfo(dce, 103)), 0x1C000021)
    transports = wkst.hNetrWkstaTransportEnum(dce, 0)['TransportInfo']['WkstaTransportInfo']['Level0']
    check(f'{label} wkssvc transports', transports['EntriesRead'] >= 1, True)

# ---- share addition refusals, over SMB1 and SMB3 -----------------------------
for dialect, seal, label in ((smb.SMB_DIALECT, False, 'SMB1'), (SMB2_DIALECT_311, True, 'SMB3 sealed')):
    before = config()
    dce = srvsvc(connect(admin, dialect, seal))
    check(f'{label} duplicate share', error_of(lambda: srvs.hNetrShareAdd(dce, 2, share_info_2('docs', 'C:\\added'))),
          2118)
    check(f'{label} climbing path',
          error_of(lambda: srvs.hNetrShareAdd(dce, 2, share_info_2('climb', 'C:\\added\\..\\..\\etc'))), 87)
    check(f'{label} control character in a path',
          error_of(lambda: srvs.hNetrShareAdd(dce, 2, share_info_2('ctl', 'C:\\ad\x01ded'))), 87)
    req = srvs.NetrShareAdd()
    req['ServerName'] = '\x00'
    req['Level'] = 1005
    req['InfoStruct']['tag'] = 1005
    req['InfoStruct']['ShareInfo1005']['shi1005_flags'] = 0
    req['ParmErr'] = srvs.NULL
    check(f'{label} level 1005', error_of(lambda: dce.request(req)), 124)
    plain_dce = srvsvc(connect(plain, dialect, seal))
    check(f'{label} plain user adds',
          error_of(lambda: srvs.hNetrShareAdd(plain_dce, 2, share_info_2('bobs', 'C:\\added'))), 5)
    check(f'{label} nothing left in cs_cfg.txt', config(), before)
    check(f'{label} no placeholder listed',
          [s['shi1_netname'] for s in srvs.hNetrShareEnum(dce, 1)['InfoStruct']['ShareInfo']['Level1']['Buffer']
           if s['shi1_netname'].startswith('__')], [])


# ---- NetrSessionDel and NetrFileClose ----------------------------------------
def sessions(dce):
    r = srvs.hNetrSessionEnum(dce, srvs.NULL, srvs.NULL, 1)
    return sorted(s['sesi1_username'][:-1] for s in r['InfoStruct']['SessionInfo']['Level1']['Buffer'])


admin_conn = connect(admin, smb.SMB_DIALECT)
dce = srvsvc(admin_conn)
victim = connect(plain, smb.SMB_DIALECT)
victim.connectTree('IPC$')
check('both users have sessions', sorted(set(sessions(dce))), sorted([admin[0], plain[0]]))
srvs.hNetrSessionDel(dce, srvs.NULL, plain[0] + '\x00')
check("the other user's sessions are gone", sorted(set(sessions(dce))), [admin[0]])
try:
    victim.listPath('IPC$', '*')
    dropped = False
except Exception:
    dropped = True
check('the other client was dropped', dropped, True)

# One's own pipe: the call is answered or the pipe goes; the server carries on.
files = srvs.hNetrFileEnum(dce, srvs.NULL, srvs.NULL, 3)['InfoStruct']['FileInfo']['Level3']['Buffer']
own = [f['fi3_id'] for f in files if 'srvsvc' in f['fi3_path_name']]
check('own pipe listed', len(own) >= 1, True)
error_of(lambda: srvs.hNetrFileClose(dce, own[0]))
# One's own session: the answer may be lost with it, nothing else.
dce = srvsvc(connect(admin, smb.SMB_DIALECT))
try:
    srvs.hNetrSessionDel(dce, srvs.NULL, admin[0] + '\x00')
except Exception:
    pass
dce = srvsvc(connect(admin, smb.SMB_DIALECT))
check('served after deleting its own session', sessions(dce) is not None, True)

# ---- NMPIPE state and information, LANMAN, over SMB1 -------------------------
conn = connect(admin, smb.SMB_DIALECT)
s = conn.getSMBServer()
tid = conn.connectTree('IPC$')
unicode = bool(s.get_flags()[1] & smb.SMB.FLAGS2_UNICODE)


def transact(setup, name, param, data=b''):
    # The name at an even offset, in the session's text.
    wire = (b'\x00' + name.encode('utf-16le') + b'\x00\x00') if unicode else name.encode() + b'\x00'
    s.send_trans(tid, setup, wire, param, data)
    r = s.recvSMB()
    cmd = smb.SMBCommand(r['Data'][0])
    p = smb.SMBTransactionResponse_Parameters(cmd['Parameters'])
    base = 32 + 1 + len(cmd['Parameters']) + 2
    raw = cmd['Data']
    params = raw[p['ParameterOffset'] - base:p['ParameterOffset'] - base + p['ParameterCount']]
    data = raw[p['DataOffset'] - base:p['DataOffset'] - base + p['DataCount']]
    return r['ErrorCode'] if 'ErrorCode' in r.fields else 0, params, data


fid = s.nt_create_andx(tid, '\\srvsvc')
_, params, _ = transact(struct.pack('<HH', 0x21, fid), '\\PIPE\\', b'')
check('NMPIPE state', struct.unpack('<H', params[:2])[0], 0x8501)
_, _, info = transact(struct.pack('<HH', 0x22, fid), '\\PIPE\\', struct.pack('<H', 1))
check('NMPIPE information: instances', (info[4], info[5]), (1, 1))
check('NMPIPE information: name', info[7:7 + info[6]].decode('utf-16le' if unicode else 'ascii').rstrip('\x00'),
      '\\srvsvc')
check('NMPIPE information: name length and data count', (info[6], len(info)), (16, 23) if unicode else (8, 15))
s.close(tid, fid)


def rap(api, pdesc, ddesc, args, size):
    param = struct.pack('<H', api) + pdesc + b'\x00' + ddesc + b'\x00' + args + struct.pack('<H', size)
    _, p, d = transact(b'', '\\PIPE\\LANMAN', param)
    status, converter, avail = struct.unpack('<HHH', p[:6])
    return status, converter, avail, d


def text_at(data, pointer, converter):
    at = (pointer & 0xFFFF) - converter
    return data[at:data.index(b'\x00', at)].decode()


for level, ddesc in ((0, b'B13'), (1, b'B13BWz'), (2, b'B13BWzWWWzB9B')):
    status, converter, avail, d = rap(1, b'zWrLh', ddesc, b'docs\x00' + struct.pack('<H', level), 4096)
    check(f'NetShareGetInfo {level} status', (status, converter), (0, 0))
    check(f'NetShareGetInfo {level} name', d[:13].rstrip(b'\x00'), b'docs')
    if level >= 1:
        check(f'NetShareGetInfo {level} type and remark',
              (struct.unpack('<H', d[14:16])[0], text_at(d, struct.unpack('<I', d[16:20])[0], converter)),
              (0, 'my documents'))
    if level == 2:
        check('NetShareGetInfo 2 path ends in docs', text_at(d, struct.unpack('<I', d[26:30])[0], converter)[-4:],
              'docs')
        check('NetShareGetInfo 2 room', avail, len(d))
    status, _, needed, _ = rap(1, b'zWrLh', ddesc, b'docs\x00' + struct.pack('<H', level), 8)
    check(f'NetShareGetInfo {level} small buffer', (status, needed), (234, 13 if level == 0 else avail))

status, converter, avail, d = rap(63, b'WrLh', b'zzzBBzz', struct.pack('<H', 10), 4096)
check('NetWkstaGetInfo 10 status', status, 0)
check('NetWkstaGetInfo 10 host', text_at(d, struct.unpack('<I', d[0:4])[0], converter), 'ROUTER')
check('NetWkstaGetInfo 10 version', (d[12], d[13]), (2, 0))
check('NetWkstaGetInfo 10 size', avail, len(d))
status, _, needed, _ = rap(63, b'WrLh', b'zzzBBzz', struct.pack('<H', 10), 10)
check('NetWkstaGetInfo 10 small buffer', (status, needed), (234, avail))

# ---- cycles: open, bind, call, close -----------------------------------------
conn = connect(admin, smb.SMB_DIALECT)


def cycle():
    dce = srvsvc(conn)
    srvs.hNetrServerGetInfo(dce, 100)
    dce.disconnect()


def open_files(dce):
    return len(srvs.hNetrFileEnum(dce, srvs.NULL, srvs.NULL, 3)['InfoStruct']['FileInfo']['Level3']['Buffer'])


watch = srvsvc(connect(admin, smb.SMB_DIALECT))
files_before = open_files(watch)
for _ in range(200):
    cycle()
start = rss_kb()
for _ in range(cycles):
    cycle()
grown = rss_kb() - start
print(f'{cycles} cycles: resident memory grew {grown} kB', file=sys.stderr)
check(f'{cycles} cycles: memory flat', grown < 32 * 1024, True)
check('no pipe left by the cycles', open_files(watch), files_before)

finish()
