# The clients of rpc_security_smb.sh.
import subprocess
import sys

from impacket.dcerpc.v5 import lsad, lsat, rpcrt, rrp, samr, transport
from impacket.dcerpc.v5.dtypes import MAXIMUM_ALLOWED
from impacket.smb import SMB_DIALECT

failures = []


def check(what, got, wanted):
    if got != wanted:
        failures.append(what)
        print(f'FAIL {what}: got {got!r}, wanted {wanted!r}', file=sys.stderr)
    else:
        print(f'ok   {what}', file=sys.stderr)


def error_of(call):
    try:
        call()
    except rpcrt.DCERPCException as e:
        return e.get_error_code()
    except Exception as e:
        return f'{type(e).__name__}: {e}'
    return 0


def connect(pipe, iface, user, password, dialect):
    t = transport.SMBTransport('127.0.0.1', 445, pipe, user, password)
    t.preferred_dialect(dialect)
    dce = t.get_dce_rpc()
    dce.connect()
    dce.bind(iface)
    return dce


for dialect, label in ((SMB_DIALECT, 'NT1'),):
    try:
        lsa = connect(r'\lsarpc', lsat.MSRPC_UUID_LSAT, 'boss', 'Boss#1', dialect)
        policy = lsad.hLsarOpenPolicy2(lsa, MAXIMUM_ALLOWED | lsat.POLICY_LOOKUP_NAMES)['PolicyHandle']
        r = lsat.hLsarLookupSids2(lsa, policy, ['S-1-5-32-544'])
        check(f'{label} LookupSids2 544', r['TranslatedNames']['Names'][0]['Name'], 'Administrators')
        reg = connect(r'\winreg', rrp.MSRPC_UUID_RRP, 'alice', 'Alice#1', dialect)
        hklm = rrp.hOpenLocalMachine(reg)['phKey']
        key = rrp.hBaseRegOpenKey(reg, hklm, 'System\\CurrentControlSet\\Control\\ProductOptions')['phkResult']
        check(f'{label} ProductType', rrp.hBaseRegQueryValue(reg, key, 'ProductType'), (1, 'VXE\x00'))
        sam = connect(r'\samr', samr.MSRPC_UUID_SAMR, 'boss', 'Boss#1', dialect)
        server = samr.hSamrConnect5(sam, '\\\\ROUTER\x00', 0x30)['ServerHandle']
        sid = samr.hSamrLookupDomainInSamServer(sam, server, 'ROUTER')['DomainId']
        domain = samr.hSamrOpenDomain(sam, server, 0x30, sid)['DomainHandle']
        samr.hSamrCreateUser2InDomain(sam, domain, 'carol', samr.USER_NORMAL_ACCOUNT, 0x10)
        out = subprocess.run([sys.argv[1], 'EU'], capture_output=True, text=True, timeout=10)
        check(f'{label} carol in the control channel\'s list', 'carol' in out.stdout, True)
        plain = connect(r'\samr', samr.MSRPC_UUID_SAMR, 'alice', 'Alice#1', dialect)
        pserver = samr.hSamrConnect5(plain, '\\\\ROUTER\x00', 0x30)['ServerHandle']
        pdomain = samr.hSamrOpenDomain(plain, pserver, 0x30, sid)['DomainHandle']
        check(f'{label} CreateUser2 by a plain user', error_of(
            lambda: samr.hSamrCreateUser2InDomain(plain, pdomain, 'dave', samr.USER_NORMAL_ACCOUNT, 0x10)), 0xC0000005)
    except Exception as e:
        failures.append(label)
        print(f'FAIL {label}: {type(e).__name__}: {e}', file=sys.stderr)

sys.exit(1 if failures else 0)
