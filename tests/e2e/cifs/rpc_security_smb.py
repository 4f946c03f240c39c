# The impacket clients of rpc_security_smb.sh, over NT1, SMB 2.1 and sealed
# 3.1.1: the policy's identity, names and SIDs (qualified, foreign, mixed,
# 25 at once), the registry's values and its ten key handles freed with the
# SMB session that held them, users created and refused, and
# passwords set by class 25 and class 23 under the session's own key (the
# SMB session key, the application key at 3.x), then smbclient logs on
# with each over the same dialect; alias 544 setting and clearing the
# administrator mark the control channel lists, display information and a
# user's security descriptor; then hostile clients on each pipe.
import os
import re
import struct
import subprocess
import sys

from impacket.dcerpc.v5 import dssp, lsad, lsat, rrp, samr, transport
from impacket.dcerpc.v5.dtypes import MAXIMUM_ALLOWED
from impacket.smb import SMB_DIALECT
from impacket.smb3structs import SMB2_DIALECT_21, SMB2_DIALECT_311, SMB2_SESSION_FLAG_ENCRYPT_DATA
from impacket.smbconnection import SMBConnection

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from checks import check, failures, finish  # noqa: E402
from rpc_security_calls import error_of, hashed, query_value, set_internal4, text, users, with_key  # noqa: E402
from smb2_clients import logon as smb2_logon  # noqa: E402  (impacket's SMB3 signing and sealing set right)

ctl = sys.argv[1]


def connect(pipe, iface, user, password, dialect):
    if dialect == SMB_DIALECT:
        conn = SMBConnection('127.0.0.1', '127.0.0.1', preferredDialect=dialect, timeout=10)
        conn.login(user, password)
    else:
        conn = smb2_logon(dialect, dialect == SMB2_DIALECT_311, user, password)
    t = transport.SMBTransport('127.0.0.1', filename=pipe, smb_connection=conn)
    dce = t.get_dce_rpc()
    dce.connect()
    dce.bind(iface)
    return dce


def sealed(dce):
    session = dce.get_rpc_transport().get_smb_connection().getSMBServer()._Session
    return bool(session['SessionFlags'] & SMB2_SESSION_FLAG_ENCRYPT_DATA)


def is_admin(who):
    # The control channel's user list: "User name: X" ... "User is Admin: Yes".
    out = subprocess.run([ctl, 'EU'], capture_output=True, text=True, timeout=10).stdout
    m = re.search(r'User name: ' + who + r'\n(?:.*\n){2}\s*User is Admin: (\w+)', out)
    return m.group(1) if m else None


def logon(user, password, dialect):
    r = subprocess.run(['smbclient', '//127.0.0.1/Share', '-U', f'{user}%{password}', '-m', dialect,
                        '--option=client min protocol=NT1', '-c', 'ls'], capture_output=True, text=True, timeout=30)
    if r.returncode:
        print(r.stdout + r.stderr, file=sys.stderr)
    return r.returncode


for dialect, label, tool in ((SMB_DIALECT, 'NT1', 'NT1'), (SMB2_DIALECT_21, '2.1', 'SMB2_10'),
                             (SMB2_DIALECT_311, '3.1.1', 'SMB3_11')):
    try:
        # lsad, lsat, dssp
        lsa = connect(r'\lsarpc', lsat.MSRPC_UUID_LSAT, 'boss', 'Boss#1', dialect)
        if dialect == SMB2_DIALECT_311:
            check(f'{label} sealed', sealed(lsa), True)
        policy = lsad.hLsarOpenPolicy2(lsa, MAXIMUM_ALLOWED | lsat.POLICY_LOOKUP_NAMES)['PolicyHandle']
        info = lsad.hLsarQueryInformationPolicy(
            lsa, policy, lsad.POLICY_INFORMATION_CLASS.PolicyAccountDomainInformation)['PolicyInformation']
        check(f'{label} account domain', text(info['PolicyAccountDomainInfo']['DomainName']), 'WORKGROUP')
        info = lsad.hLsarQueryInformationPolicy(
            lsa, policy, lsad.POLICY_INFORMATION_CLASS.PolicyPrimaryDomainInformation)['PolicyInformation']
        check(f'{label} primary domain', text(info['PolicyPrimaryDomainInfo']['Name']), 'WORKGROUP')
        check(f'{label} QueryInformationPolicy 12',
              error_of(lambda: lsad.hLsarQueryInformationPolicy(lsa, policy, 12)), 0x1C000021)
        r = lsat.hLsarLookupSids2(lsa, policy, ['S-1-5-32-544'])
        name = r['TranslatedNames']['Names'][0]
        check(f'{label} LookupSids2 544', (name['Name'], name['Use'], r['ReferencedDomains']['Domains'][0]['Name']),
              ('Administrators', 4, 'ROUTER'))
        check(f'{label} LookupNames3 ROUTER\\alice', lsat.hLsarLookupNames3(lsa, policy, ['ROUTER\\alice'])['MappedCount'], 1)
        for other in ('R\\alice', 'OTHER\\alice'):
            check(f'{label} LookupNames3 {other}', error_of(lambda: lsat.hLsarLookupNames3(lsa, policy, [other])),
                  0xC0000073)
        check(f'{label} LookupNames3 mixed',
              error_of(lambda: lsat.hLsarLookupNames3(lsa, policy, ['alice', 'nobody'])), 0x107)
        check(f'{label} LookupNames3 25 names',
              lsat.hLsarLookupNames3(lsa, policy, ['ROUTER\\alice'] * 25)['MappedCount'], 25)
        ds = connect(r'\lsarpc', dssp.MSRPC_UUID_DSSP, 'alice', 'Alice#1', dialect)
        role = dssp.hDsRolerGetPrimaryDomainInformation(ds, 1)['DomainInfo']['DomainInfoBasic']
        check(f'{label} DsRoler domain', text(role['DomainNameFlat']), 'WORKGROUP')

        # rrp
        reg = connect(r'\winreg', rrp.MSRPC_UUID_RRP, 'alice', 'Alice#1', dialect)
        hklm = rrp.hOpenLocalMachine(reg)['phKey']
        key = rrp.hBaseRegOpenKey(reg, hklm, 'System\\CurrentControlSet\\Control\\ProductOptions')['phkResult']
        check(f'{label} ProductType', rrp.hBaseRegQueryValue(reg, key, 'ProductType'), (1, 'VXE\x00'))
        params = rrp.hBaseRegOpenKey(reg, hklm, 'System\\CurrentControlSet\\Services\\Tcpip\\Parameters')['phkResult']
        check(f'{label} Hostname', text(rrp.hBaseRegQueryValue(reg, params, 'Hostname')[1]), 'ROUTER')
        check(f'{label} Domain', text(rrp.hBaseRegQueryValue(reg, params, 'Domain')[1]), 'WORKGROUP')
        check(f'{label} QueryValue small buffer', error_of(lambda: query_value(reg, key, 'ProductType', 4)), 234)
        for k in (key, params, hklm):
            rrp.hBaseRegCloseKey(reg, k)
        # The ten key handles: a client holding them all, then leaving
        # without closing; its handles go with its SMB session.
        held = [rrp.hOpenLocalMachine(reg)['phKey'] for _ in range(10)]
        check(f'{label} eleventh open', error_of(lambda: rrp.hOpenLocalMachine(reg)), 0xC000009A)
        reg.get_rpc_transport().get_smb_connection().close()
        other = connect(r'\winreg', rrp.MSRPC_UUID_RRP, 'alice', 'Alice#1', dialect)
        opened = [error_of(lambda: rrp.hOpenLocalMachine(other)) for _ in range(10)]
        check(f'{label} ten opens after the holder left', opened, [0] * 10)
        other.get_rpc_transport().get_smb_connection().close()

        # samr: a user per dialect, its password set twice with the
        # session's key and once under another.
        sam = connect(r'\samr', samr.MSRPC_UUID_SAMR, 'boss', 'Boss#1', dialect)
        session_key = sam.get_rpc_transport().get_smb_connection().getSessionKey()
        check(f'{label} Connect5 MAXIMUM_ALLOWED', error_of(lambda: samr.hSamrConnect5(sam, '\\\\ROUTER\x00')),
              0xC0000005)
        server = samr.hSamrConnect5(sam, '\\\\ROUTER\x00', 0x30)['ServerHandle']
        sid = samr.hSamrLookupDomainInSamServer(sam, server, 'ROUTER')['DomainId']
        domain = samr.hSamrOpenDomain(sam, server, 0x30, sid)['DomainHandle']
        who = 'carol' + label.replace('.', '')
        created = samr.hSamrCreateUser2InDomain(sam, domain, who, samr.USER_NORMAL_ACCOUNT, 0x10)['UserHandle']
        out = subprocess.run([ctl, 'EU'], capture_output=True, text=True, timeout=10)
        check(f'{label} {who} in the control channel\'s list', who in out.stdout, True)
        check(f'{label} class 25', error_of(lambda: samr.hSamrSetPasswordInternal4New(sam, created, 'Pw25#' + who)), 0)
        check(f'{label} class 25 stored', f'{who}:{hashed("Pw25#" + who)}:' in users(), True)
        check(f'{label} logon with the class 25 password', logon(who, 'Pw25#' + who, tool), 0)
        other = bytes(b ^ 0xFF for b in session_key)
        wrong = error_of(lambda: samr.hSamrSetPasswordInternal4New(with_key(sam, other), created, 'Wrong#25'))
        del sam.get_rpc_transport().get_smb_connection
        check(f'{label} class 25 under another key', wrong, 0xC0000005)
        check(f'{label} class 23', error_of(lambda: set_internal4(sam, created, 'Pw23#' + who, session_key)), 0)
        check(f'{label} class 23 under another key',
              error_of(lambda: set_internal4(sam, created, 'Wrong#23', other)), 0xC0000005)
        check(f'{label} class 23 kept', f'{who}:{hashed("Pw23#" + who)}:' in users(), True)
        check(f'{label} logon with the class 23 password', logon(who, 'Pw23#' + who, tool), 0)
        plain = connect(r'\samr', samr.MSRPC_UUID_SAMR, 'alice', 'Alice#1', dialect)
        pserver = samr.hSamrConnect5(plain, '\\\\ROUTER\x00', 0x30)['ServerHandle']
        pdomain = samr.hSamrOpenDomain(plain, pserver, 0x30, sid)['DomainHandle']
        check(f'{label} CreateUser2 by a plain user', error_of(
            lambda: samr.hSamrCreateUser2InDomain(plain, pdomain, 'dave', samr.USER_NORMAL_ACCOUNT, 0x10)), 0xC0000005)
        check(f'{label} nothing created', 'dave:' in users(), False)
        bsid = samr.RPC_SID()
        bsid.fromCanonical('S-1-5-32')
        bdomain = samr.hSamrOpenDomain(sam, server, 0x30, bsid)['DomainHandle']
        alias = samr.hSamrOpenAlias(sam, bdomain, 0x4 | 0x8, 544)['AliasHandle']
        rid = samr.hSamrLookupNamesInDomain(sam, domain, [who])['RelativeIds']['Element'][0]['Data']
        member = samr.RPC_SID()
        member.fromCanonical(f'{sid.formatCanonical()}-{rid}')
        check(f'{label} AddMemberToAlias 544', error_of(lambda: samr.hSamrAddMemberToAlias(sam, alias, member)), 0)
        check(f'{label} {who} marked in the control channel', is_admin(who), 'Yes')
        # The marked account's RID reads negative from now on.
        member = samr.RPC_SID()
        member.fromCanonical(f'{sid.formatCanonical()}-{2**32 - rid}')
        check(f'{label} RemoveMemberFromAlias 544',
              error_of(lambda: samr.hSamrRemoveMemberFromAlias(sam, alias, member)), 0)
        check(f'{label} {who} mark cleared in the control channel', is_admin(who), 'No')
        display = samr.hSamrQueryDisplayInformation(sam, domain)['Buffer']['UserInformation']['Buffer']
        check(f'{label} display information lists {who}', who in [text(e['AccountName']) for e in display], True)
        sd = samr.hSamrQuerySecurityObject(sam, created, 4)['SecurityDescriptor']
        check(f'{label} QuerySecurityObject', sd['Length'] > 20, True)
    except Exception as e:
        failures.append(label)
        print(f'FAIL {label}: {type(e).__name__}: {e}', file=sys.stderr)

# Hostile clients on the three pipes: a bind cut short, a fragment length
# beyond what follows, a request before any bind, noise; then a client that
# behaves is served on each.
header = struct.pack('<BBBBIHHI', 5, 0, 11, 3, 0x10, 72, 0, 1)
junk = [header[:12], header[:8] + struct.pack('<HHI', 5000, 0, 1) + b'\0' * 40,
        struct.pack('<BBBBIHHI', 5, 0, 0, 3, 0x10, 24, 0, 2) + b'\0' * 8, bytes(range(256)) * 4]
for pipe in (r'\lsarpc', r'\samr', r'\winreg'):
    for data in junk:
        conn = SMBConnection('127.0.0.1', '127.0.0.1', preferredDialect=SMB_DIALECT, timeout=5)
        conn.login('alice', 'Alice#1')
        t = transport.SMBTransport('127.0.0.1', filename=pipe, smb_connection=conn)
        try:
            t.connect()
            t.send(data)
            t.recv()
        except Exception as e:  # a refusal or a closed pipe is the answer to noise
            print(f'     ({pipe} {len(data)} bytes: {type(e).__name__})', file=sys.stderr)
        conn.close()
served = {
    r'\lsarpc': (lsat.MSRPC_UUID_LSAT, lambda d: lsad.hLsarOpenPolicy2(d, MAXIMUM_ALLOWED)),
    r'\samr': (samr.MSRPC_UUID_SAMR, lambda d: samr.hSamrConnect5(d, '\\\\ROUTER\x00', 0x30)),
    r'\winreg': (rrp.MSRPC_UUID_RRP, rrp.hOpenLocalMachine),
}
for pipe, (iface, call) in served.items():
    check(f'{pipe} served after hostile clients',
          error_of(lambda: call(connect(pipe, iface, 'alice', 'Alice#1', SMB2_DIALECT_311))), 0)

finish()
