# impacket clients the control tool's scenario acts on. Usage:
#   ctl_clients.py hold USER PASSWORD SHARE GO: logs on over SMB 2.1, connects
#     the share and prints "connected"; once the file GO exists it tries
#     a tree connect to IPC$ and prints "alive", or "dropped" with the error.
#   ctl_clients.py unsigned USER PASSWORD SHARE: logs on over SMB 2.1 and
#     connects the share with signing turned off on its side; prints
#     "tree: ok" or "tree: " and the error.
import os
import sys
import time

from impacket.smb3structs import SMB2_DIALECT_21
from impacket.smbconnection import SMBConnection

HOST = '127.0.0.1'


def logon(user, password):
    c = SMBConnection(HOST, HOST, preferredDialect=SMB2_DIALECT_21, timeout=5)
    c.login(user, password)
    return c


def say(text):
    print(text, flush=True)


def error(e):
    # The status name when the server answered, else what broke the socket.
    name = getattr(e, 'getErrorString', None)
    return name()[0] if name else type(e).__name__


def hold(user, password, share, go):
    c = logon(user, password)
    c.connectTree(share)
    say('connected')
    deadline = time.monotonic() + 30
    while not os.path.exists(go):
        if time.monotonic() > deadline:
            say('no go')
            return 1
        time.sleep(0.05)
    try:
        # impacket answers a share it already holds from its own table.
        c.connectTree('IPC$')
        say('alive')
    except Exception as e:  # noqa: BLE001 - any failure is the answer
        say(f'dropped {error(e)}')
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
    sys.exit({'hold': hold, 'unsigned': unsigned}[mode](*args))
