# The security authority, account manager and registry as a real DCE/RPC
# client (impacket) sees them over ncacn_ip_tcp through the pipe probe:
# the policy's identity and role, names and SIDs both ways, the registry's
# values and its ten shared handles, users created and refused, passwords
# set by class 25 (impacket's own) and class 23 (built here) under the
# session key and refused under another, alias
# membership as the administrator mark, display information and security
# objects. The probe must stop cleanly under the sanitizers.
import socket
import subprocess
import sys
import time

from impacket.dcerpc.v5 import dssp, lsad, lsat, rrp, samr, transport
from impacket.dcerpc.v5.dtypes import MAXIMUM_ALLOWED, RPC_SID

from checks import check, finish
from rpc_security_calls import USERS, error_of, hashed, query_value, set_internal4, text, users, with_key

probe = sys.argv[1]
LSA, SAMR_ADMIN, SAMR_PLAIN, WINREG = 7101, 7102, 7103, 7104


def connect(port, iface):
    t = transport.DCERPCTransportFactory(f'ncacn_ip_tcp:127.0.0.1[{port}]')
    dce = t.get_dce_rpc()
    dce.connect()
    dce.bind(iface)
    return dce


p = subprocess.Popen([probe, f'{LSA}:lsarpc:admin', f'{SAMR_ADMIN}:samr:admin', f'{SAMR_PLAIN}:samr:plain',
                      f'{WINREG}:winreg:admin'], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
if p.stdout.readline().strip() != 'ready':
    sys.exit('probe did not start: ' + p.stderr.read())
with open(USERS, 'w') as f:
    f.write('alice::1005:0\nadmin::-1001:0\nplain::1002:0\n')

try:
    # lsad, lsat, dssp
    lsa = connect(LSA, lsat.MSRPC_UUID_LSAT)
    policy = lsad.hLsarOpenPolicy2(lsa, MAXIMUM_ALLOWED | lsat.POLICY_LOOKUP_NAMES)['PolicyHandle']
    for level, field in ((lsad.POLICY_INFORMATION_CLASS.PolicyPrimaryDomainInformation, 'PolicyPrimaryDomainInfo'),
                         (lsad.POLICY_INFORMATION_CLASS.PolicyAccountDomainInformation, 'PolicyAccountDomainInfo')):
        info = lsad.hLsarQueryInformationPolicy(lsa, policy, level)['PolicyInformation'][field]
        name = info['Name'] if 'Name' in info.fields else info['DomainName']
        check(f'QueryInformationPolicy {level}', bool(text(name)), True)
    check('QueryInformationPolicy 12',
          error_of(lambda: lsad.hLsarQueryInformationPolicy(lsa, policy, 12)), 0x1C000021)
    sid = RPC_SID()
    sid.fromCanonical('S-1-5-32-544')
    r = lsat.hLsarLookupSids2(lsa, policy, ['S-1-5-32-544'])
    check('LookupSids2 544 name', r['TranslatedNames']['Names'][0]['Name'], 'Administrators')
    check('LookupSids2 544 type', r['TranslatedNames']['Names'][0]['Use'], 4)
    check('LookupSids2 544 domain', r['ReferencedDomains']['Domains'][0]['Name'], 'ROUTER')
    r = lsat.hLsarLookupNames3(lsa, policy, ['ROUTER\\alice'])
    check('LookupNames3 ROUTER\\alice', r['MappedCount'], 1)
    for name in ('R\\alice', 'OTHER\\alice'):
        check(f'LookupNames3 {name}', error_of(lambda: lsat.hLsarLookupNames3(lsa, policy, [name])), 0xC0000073)
    check('LookupNames3 mixed', error_of(lambda: lsat.hLsarLookupNames3(lsa, policy, ['alice', 'nobody'])), 0x107)
    r = lsat.hLsarLookupNames3(lsa, policy, ['ROUTER\\alice'] * 25)
    check('LookupNames3 25 names', r['MappedCount'], 25)
    ds = connect(LSA, dssp.MSRPC_UUID_DSSP)
    role = dssp.hDsRolerGetPrimaryDomainInformation(ds, 1)['DomainInfo']['DomainInfoBasic']
    check('DsRoler role', role['MachineRole'], dssp.DSROLE_MACHINE_ROLE.DsRole_RoleStandaloneServer)
    check('DsRoler domain', text(role['DomainNameFlat']), 'WORKGROUP')

    # rrp
    reg = connect(WINREG, rrp.MSRPC_UUID_RRP)
    hklm = rrp.hOpenLocalMachine(reg)['phKey']
    key = rrp.hBaseRegOpenKey(reg, hklm, 'System\\CurrentControlSet\\Control\\ProductOptions')['phkResult']
    check('ProductType', rrp.hBaseRegQueryValue(reg, key, 'ProductType'), (1, 'VXE\x00'))
    params = rrp.hBaseRegOpenKey(reg, hklm, 'system\\currentcontrolset\\services\\tcpip\\parameters')['phkResult']
    check('Hostname', text(rrp.hBaseRegQueryValue(reg, params, 'Hostname')[1]), 'ROUTER')
    check('Domain', text(rrp.hBaseRegQueryValue(reg, params, 'Domain')[1]), 'WORKGROUP')
    check('QueryValue small buffer', error_of(lambda: query_value(reg, key, 'ProductType', 4)), 234)
    check('EnumKey HKLM 0', text(rrp.hBaseRegEnumKey(reg, hklm, 0)['lpNameOut']), 'Software')
    check('EnumKey HKLM 2', error_of(lambda: rrp.hBaseRegEnumKey(reg, hklm, 2)), 259)
    for k in (key, params, hklm):
        rrp.hBaseRegCloseKey(reg, k)
    held = [rrp.hOpenLocalMachine(reg)['phKey'] for _ in range(10)]
    check('eleventh open', error_of(lambda: rrp.hOpenLocalMachine(reg)), 0xC000009A)
    reg.disconnect()
    other = connect(WINREG, rrp.MSRPC_UUID_RRP)
    opened = 0
    for _ in range(10):
        if error_of(lambda: rrp.hOpenLocalMachine(other)) == 0:
            opened += 1
    check('ten opens after the holder left', opened, 10)
    other.disconnect()

    # samr
    sam = connect(SAMR_ADMIN, samr.MSRPC_UUID_SAMR)
    check('Connect5 MAXIMUM_ALLOWED', error_of(lambda: samr.hSamrConnect5(sam, '\\\\ROUTER\x00')), 0xC0000005)
    server = samr.hSamrConnect5(sam, '\\\\ROUTER\x00', 0x30)['ServerHandle']
    names = [text(d['Name']) for d in samr.hSamrEnumerateDomainsInSamServer(sam, server)['Buffer']['Buffer']]
    check('EnumerateDomains', names, ['ROUTER', 'Builtin'])
    domainSid = samr.hSamrLookupDomainInSamServer(sam, server, 'ROUTER')['DomainId']
    domain = samr.hSamrOpenDomain(sam, server, 0x30, domainSid)['DomainHandle']
    created = samr.hSamrCreateUser2InDomain(sam, domain, 'carol', samr.USER_NORMAL_ACCOUNT, 0x10)
    check('CreateUser2 by an administrator', 'carol::1006:0' in users(), True)
    carol = created['UserHandle']
    zero, other = b'\0' * 16, b'\x01' * 16
    check('class 25 under another key', error_of(lambda: samr.hSamrSetPasswordInternal4New(
        with_key(sam, other), carol, 'Wrong#1')), 0xC0000005)
    check('nothing stored', 'carol::1006:0' in users(), True)
    check('class 25', error_of(lambda: samr.hSamrSetPasswordInternal4New(with_key(sam, zero), carol, 'Carol#25')), 0)
    check('class 25 stored', f'carol:{hashed("Carol#25")}:1006:0' in users(), True)
    check('class 23 under another key', error_of(lambda: set_internal4(sam, carol, 'Wrong#2', other)), 0xC0000005)
    secret = 'Carol#23\u00e9'
    check('class 23', error_of(lambda: set_internal4(sam, carol, secret, zero)), 0)
    check('class 23 stored', f'carol:{hashed(secret)}:1006:0' in users(), True)
    plain = connect(SAMR_PLAIN, samr.MSRPC_UUID_SAMR)
    pserver = samr.hSamrConnect5(plain, '\\\\ROUTER\x00', 0x30)['ServerHandle']
    pdomain = samr.hSamrOpenDomain(plain, pserver, 0x30, domainSid)['DomainHandle']
    check('CreateUser2 by a plain user',
          error_of(lambda: samr.hSamrCreateUser2InDomain(plain, pdomain, 'dave', samr.USER_NORMAL_ACCOUNT, 0x10)),
          0xC0000005)
    check('nothing created', 'dave' in users(), False)
    builtin = RPC_SID()
    builtin.fromCanonical('S-1-5-32')
    bdomain = samr.hSamrOpenDomain(sam, server, 0x30, builtin)['DomainHandle']
    alias = samr.hSamrOpenAlias(sam, bdomain, 0x4 | 0x8, 544)['AliasHandle']
    member = RPC_SID()
    member.fromCanonical(domainSid.formatCanonical() + '-1005')
    check('AddMemberToAlias', error_of(lambda: samr.hSamrAddMemberToAlias(sam, alias, member)), 0)
    check('alias 544 marks alice', 'alice::-1005:0' in users(), True)
    # The marked account's RID is now negative.
    member = RPC_SID()
    member.fromCanonical(domainSid.formatCanonical() + '-' + str(2**32 - 1005))
    check('RemoveMemberFromAlias', error_of(lambda: samr.hSamrRemoveMemberFromAlias(sam, alias, member)), 0)
    check('alias 544 clears the mark', 'alice::1005:0' in users(), True)
    display = samr.hSamrQueryDisplayInformation(sam, domain)['Buffer']['UserInformation']['Buffer']
    check('display names', sorted(text(e['AccountName']) for e in display), ['admin', 'alice', 'carol', 'plain'])
    sd = samr.hSamrQuerySecurityObject(sam, created['UserHandle'], 4)['SecurityDescriptor']
    check('QuerySecurityObject', sd['Length'] > 20, True)

    # A crowd that takes every key handle and leaves without closing, and
    # clients that send garbage: the handles come back with their pipes.
    crowd = []
    for _ in range(30):
        c = connect(WINREG, rrp.MSRPC_UUID_RRP)
        error_of(lambda: rrp.hOpenLocalMachine(c))
        crowd.append(c)
    for port in (LSA, SAMR_ADMIN, WINREG):
        for junk in (b'\x05\x00\x00\x03' + b'\xff' * 60, bytes(range(256)) * 8):
            s = socket.create_connection(('127.0.0.1', port))
            s.sendall(junk)
            s.close()
    for c in crowd:
        c.disconnect()
    time.sleep(0.5)
    reg = connect(WINREG, rrp.MSRPC_UUID_RRP)
    check('ten opens after the crowd left', sum(error_of(lambda: rrp.hOpenLocalMachine(reg)) == 0 for _ in range(10)), 10)
    reg.disconnect()

    # smbtorture as a robustness driver: its suites call much that is not
    # served here and stop at the first difference; nothing they send may
    # hurt the probe, and the pipes are served afterwards.
    for port, suite in ((LSA, 'rpc.lsa'), (SAMR_ADMIN, 'rpc.samr'), (WINREG, 'rpc.winreg')):
        torture = subprocess.run(['smbtorture', '-U%', f'ncacn_ip_tcp:127.0.0.1[{port}]', suite],
                                 capture_output=True, text=True, timeout=90)
        check(f'smbtorture {suite} ran', 'time:' in torture.stdout, True)
    reg = connect(WINREG, rrp.MSRPC_UUID_RRP)
    check('registry served after smbtorture', error_of(lambda: rrp.hOpenLocalMachine(reg)), 0)
    sam = connect(SAMR_ADMIN, samr.MSRPC_UUID_SAMR)
    check('samr served after smbtorture', error_of(lambda: samr.hSamrConnect5(sam, '\\\\ROUTER\x00', 0x30)), 0)
finally:
    p.terminate()
    out, err = p.communicate(timeout=30)
    check('probe exit', p.returncode, 0)
    check('no sanitizer report', 'Sanitizer' in err, False)
    if 'Sanitizer' in err:
        print(err, file=sys.stderr)

finish()
