# A real NTLM client (impacket) against the server's logon: NEGOTIATE and
# AUTHENTICATE built by impacket for every response variant, raw and inside
# SPNEGO, fed to the logon probe. The probe's CHALLENGE must satisfy the
# client, the server's session key must be the key the client exports, and
# the signatures the server makes with it must be the client's.
import hashlib
import hmac
import subprocess
import sys

from impacket import crypto, ntlm, smb
from impacket.spnego import SPNEGO_NegTokenInit, SPNEGO_NegTokenResp, TypesMech

probe = sys.argv[1]
USER, PASSWORD, DOMAIN = 'alice', 'Secret#1', 'WORKGROUP'
SMB2 = 2
failures = []


def check(what, got, wanted):
    if got != wanted:
        failures.append(f'{what}: got {got!r}, wanted {wanted!r}')
        print(f'FAIL {what}: got {got!r}, wanted {wanted!r}', file=sys.stderr)
    else:
        print(f'ok   {what}', file=sys.stderr)


p = subprocess.Popen([probe, f'{USER}:{PASSWORD}:1000:0'], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                     text=True)


def ask(line):
    p.stdin.write(line + '\n')
    p.stdin.flush()
    return p.stdout.readline().split()


def logon(v2, ess, keyexch, spnego, password=PASSWORD):
    ask('reset')
    type1 = ntlm.getNTLMSSPType1('', '', signingRequired=True, use_ntlmv2=v2)
    blob = type1.getData()
    if spnego:
        init = SPNEGO_NegTokenInit()
        init['MechTypes'] = [TypesMech['NTLMSSP - Microsoft NTLM Security Support Provider']]
        init['MechToken'] = blob
        blob = init.getData()
    status, answer, _ = ask(f'{SMB2} {blob.hex()}')
    if status != 'c0000016':
        return status, None, None
    challenge = bytes.fromhex(answer)
    if spnego:
        challenge = SPNEGO_NegTokenResp(challenge)['ResponseToken']
    # A client that does not do session security or key exchange: it never
    # saw those flags.
    flags = int.from_bytes(challenge[20:24], 'little')
    if not ess:
        flags &= ~ntlm.NTLMSSP_NEGOTIATE_EXTENDED_SESSIONSECURITY
    if not keyexch:
        flags &= ~ntlm.NTLMSSP_NEGOTIATE_KEY_EXCH
    challenge = challenge[:20] + flags.to_bytes(4, 'little') + challenge[24:]
    type3, exported = ntlm.getNTLMSSPType3(type1, challenge, USER, password, DOMAIN, use_ntlmv2=v2)
    blob = type3.getData()
    if spnego:
        resp = SPNEGO_NegTokenResp()
        resp['ResponseToken'] = blob
        blob = resp.getData()
    status, answer, key = ask(f'{SMB2} {blob.hex()}')
    return status, answer, (key, exported.hex())


for v2 in (False, True):
    for ess in (False, True):
        for keyexch in (False, True):
            for spnego in (False, True):
                name = f"{'NTLMv2' if v2 else 'NTLMv1'}{' ESS' if ess else ''}{' key exchange' if keyexch else ''}" \
                       f"{' in SPNEGO' if spnego else ' raw'}"
                status, answer, keys = logon(v2, ess, keyexch, spnego)
                check(f'{name}: status', status, '0')
                if keys:
                    check(f'{name}: session key', keys[0], keys[1])
                if spnego and answer:
                    check(f'{name}: final token', answer, 'a1073005a0030a0100')

status, _, _ = logon(True, True, True, True, password='wrong')
check('wrong password', status, 'c000006d')
status, _, _ = logon(False, False, False, False, password='wrong')
check('wrong password, NTLMv1', status, 'c000006d')

# Signatures made with the negotiated key equal the client's.
status, _, keys = logon(True, True, True, False)
key = bytes.fromhex(keys[1])
message = bytearray(range(64)) + bytearray(b'response body' * 5)
message[16:20] = (1).to_bytes(4, 'little')
packet = bytes(message[:48]) + bytes(16) + bytes(message[64:])
# SMB 2.x: HMAC-SHA256 as the client computes it; SMB 3.x: impacket's AES-CMAC.
check('SMB2 signature', ask(f'sign2 {bytes(message).hex()}')[0],
      hmac.new(key, packet, hashlib.sha256).digest()[:16].hex())
check('SMB3 signature', ask(f'sign3 {bytes(message).hex()}')[0], crypto.AES_CMAC(key, packet, len(packet)).hex())

# SMB1: impacket's own signing routine over the same message and sequence number.
class Signer:
    _SignSequenceNumber = 6
    _SignatureVerificationEnabled = True


request = smb.NewSMBPacket()
request['Command'] = smb.SMB.SMB_COM_ECHO
request['Flags2'] = smb.SMB.FLAGS2_SMB_SECURITY_SIGNATURE | smb.SMB.FLAGS2_UNICODE
request['Data'] = b'\x01\x00\x00' + b'echo' * 4
packet = smb.NewSMBPacket(data=request.getData())
smb.SMB.signSMB(Signer(), packet, key, b'')
check('SMB1 signature', ask(f'sign1 {request.getData().hex()} 6')[0], packet['SecurityFeatures'].hex())

p.stdin.close()
p.wait()
if failures:
    print(f'{len(failures)} failures', file=sys.stderr)
    sys.exit(1)
print('PASS')
