#!/usr/bin/python3
"""impacket sends TRANS2 SET_PATH_INFORMATION (end of file 0, then the
read-only attribute) by names that step outside their share: one climbing
out of Share with "..", and the path from the disk's root on IPC$. Each is
refused; the scenario then finds the file as it was.

usage: ipc_names.py USER PASSWORD CLIMBING_NAME NAME_ON_IPC
"""
import struct
import sys

from impacket import smb

USER, PASSWORD, CLIMBING, ON_IPC = sys.argv[1:5]
END_OF_FILE, BASIC = 0x104, 0x101
failed = False


def set_path(c, tid, level, name, data):
    unicode = c.get_flags()[1] & smb.SMB.FLAGS2_UNICODE
    text = name.encode('utf-16-le') + b'\0\0' if unicode else name.encode() + b'\0'
    params = struct.pack('<HI', level, 0) + text
    c.send_trans2(tid, smb.SMB.TRANS2_SET_PATH_INFORMATION, '\x00', params, data)
    try:
        c.recvSMB().isValidAnswer(smb.SMB.SMB_COM_TRANSACTION2)
        return 0
    except smb.SessionError as e:
        return e.get_error_code()


c = smb.SMB('*SMBSERVER', '127.0.0.1', sess_port=445)
c.login(USER, PASSWORD)
read_only = b'\0' * 32 + struct.pack('<II', 0x01, 0)
for share, name in (('Share', CLIMBING), ('IPC$', ON_IPC)):
    tid = c.connect_tree('\\\\*SMBSERVER\\' + share)
    for level, data in ((END_OF_FILE, b'\0' * 8), (BASIC, read_only)):
        status = set_path(c, tid, level, name, data)
        ok = status != 0
        failed |= not ok
        print('%s %s level %#x on %s: %#x' % ('ok  ' if ok else 'FAIL', name, level, share, status))
    c.disconnect_tree(tid)
c.logoff()
sys.exit(1 if failed else 0)
