# What the security pipes' impacket clients share beside checks.py:
# refusals as codes, and class 23 built as a client builds it (impacket has
# no call).
import struct
import sys

from Cryptodome.Cipher import ARC4
from impacket import ntlm
from impacket.dcerpc.v5 import rpcrt, rrp, samr
from impacket.dcerpc.v5.dtypes import NULL

USERS = '/var/run/cifs/pwd_list.txt'


def text(value):
    return value[:-1] if isinstance(value, str) and value.endswith('\x00') else value


def error_of(call):
    try:
        call()
    except rpcrt.DCERPCException as e:
        print(f'     ({e})', file=sys.stderr)
        return e.get_error_code()
    except Exception as e:  # a union impacket cannot decode is still a refusal
        return type(e).__name__
    return 0


def set_internal4(dce, user, password, key):
    # Class 23 as a client builds it: the 516-byte buffer under the key itself.
    req = samr.SamrSetInformationUser2()
    req['UserHandle'] = user
    req['UserInformationClass'] = samr.USER_INFORMATION_CLASS.UserInternal4Information
    req['Buffer']['tag'] = samr.USER_INFORMATION_CLASS.UserInternal4Information
    i1 = req['Buffer']['Internal4']['I1']
    i1['WhichFields'] = 0x01000000
    for name in ('UserName', 'FullName', 'HomeDirectory', 'HomeDirectoryDrive', 'ScriptPath', 'ProfilePath',
                 'AdminComment', 'WorkStations', 'UserComment', 'Parameters', 'PrivateData'):
        i1[name] = NULL
    i1['LmOwfPassword']['Buffer'] = NULL
    i1['NtOwfPassword']['Buffer'] = NULL
    i1['SecurityDescriptor']['SecurityDescriptor'] = NULL
    i1['LogonHours']['LogonHours'] = NULL
    plain = password.encode('utf-16le')
    buffer = plain.rjust(512, b'\x07') + struct.pack('<I', len(plain))
    req['Buffer']['Internal4']['UserPassword']['Buffer'] = ARC4.new(key).encrypt(buffer)
    return dce.request(req)


def query_value(reg, key, name, room):
    # BaseRegQueryValue with a buffer of the size given (impacket's own call
    # always offers a large one).
    req = rrp.BaseRegQueryValue()
    req['hKey'] = key
    req['lpValueName'] = name + '\x00'
    req['lpData'] = b' ' * room
    req['lpcbData'] = room
    req['lpcbLen'] = room
    return reg.request(req)


def hashed(password):
    h = ntlm.compute_nthash(password).hex().upper()
    return h + h


def users():
    with open(USERS) as f:
        return f.read()


class KeyOnly:
    # What impacket asks the SMB connection for, standing for a key of our
    # choosing.
    def __init__(self, key):
        self.key = key

    def getSessionKey(self):
        return self.key


def with_key(dce, key):
    dce.get_rpc_transport().get_smb_connection = lambda: KeyOnly(key)
    return dce
