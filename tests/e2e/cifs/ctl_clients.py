# impacket clients the control tool's scenario acts on. Usage:
#   ctl_clients.py hold USER PASSWORD SHARE GO: logs on over SMB 2.1, connects
#     the share and prints "connected"; once the file GO exists it tries
#     a tree connect to IPC$ and prints "alive", or "dropped" with the error.
#   ctl_clients.py open USER PASSWORD SHARE FILE GO: logs on over SMB1, opens
#     FILE on the share, prints "opened" and holds it until GO exists.
#   ctl_clients.py unsigned USER PASSWORD SHARE: logs on over SMB 2.1 and
#     connects the share with signing turned off on its side; prints
#     "tree: ok" or "tree: " and the error.
import os
import sys
import time

from impacket.smb import SMB_DIALECT
from impacket.smb3structs import SMB2_DIALECT_21
from impacket.smbconnection import SMBConnection

HOST = '127.0.0.1'


def logon(user, password, dialect=SMB2_DIALECT_21):
    c = SMBConnection(HOST, HOST, preferredDialect=dialect, timeout=5)
    c.login(user, password)
    return c


def say(text):
    print(text, flush=True)


def error(e):
    # The status name when the server answered, else what broke the socket.
    name = getattr(e, 'getErrorString', None)
    return name()[0] if name else type(e).__name__


def until(go):
    deadline = time.monotonic() + 30
    while not os.path.exists(go):
        if time.monotonic() > deadline:
            return False
        time.sleep(0.05)
    return True


def hold(user, password, share, go):
    c = logon(user, password)
    c.connectTree(share)
    say('connected')
    if not until(go):
        say('no go')
        return 1
    try:
        # impacket answers a share it already holds from its own table.
        c.connectTree('IPC$')
        say('alive')
    except Exception as e:  # noqa: BLE001 - any failure is the answer
        say(f'dropped {error(e)}')
    return 0


def open_file(user, password, share, name, go):
    c = logon(user, password, SMB_DIALECT)
    tree = c.connectTree(share)
    fid = c.openFile(tree, name)
    say('opened')
    if not until(go):
        say('no go')
        return 1
    c.closeFile(tree, fid)
    return 0


def unsigned(user, password, share):
    c = logon(user, password)
    c._SMBConnection._Session['SigningActivated'] = False
    try:
        c.connectTree(share)
        say('tree: ok')
    except Exception as e:  # noqa: BLE001
        say(f'tree: {error(e)}')
    return 0


if __name__ == '__main__':
    mode, args = sys.argv[1], sys.argv[2:]
    sys.exit({'hold': hold, 'open': open_file, 'unsigned': unsigned}[mode](*args))
