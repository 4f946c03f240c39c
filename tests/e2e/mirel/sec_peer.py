#!/usr/bin/env python3
"""An independent secure Mirel peer, written from the byte form (RFC 7252
framing with the protocol's own options) and the handshake and sealing
rules alone, on python3-cryptography:

  sec_peer.py client ADDR PORT KEYHEX   handshake, sealed POST /echo and
                                        GET /hello; prints the answers
  sec_peer.py server ADDR PORT KEYHEX N answers a handshake and N sealed
                                        requests with 2.05 "py:" + body

Handshake: CON 0.01 with option 3999 = 1 and the 32-byte X25519 public key,
answered by ACK 2.05 with 3999 = 2 and the other key. HKDF-SHA256 (no salt,
no info) of the shared secret gives K1 K2 IV1 IV2 (16, 16, 4, 4 bytes); the
initiator seals with K2/IV2 and opens with K1/IV1, the responder the other
way. AES-128-GCM, 12-byte tag; nonce = IV, message id low byte first, six
zero bytes. Payload and full URI are sealed under the message's id; the URI
travels in option 4005 in place of 11 and 15; option 2111 = 1 marks it.
"""
import os
import socket
import struct
import sys

from cryptography.hazmat.primitives import hashes
from cryptography.hazmat.primitives.asymmetric.x25519 import X25519PrivateKey, X25519PublicKey
from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes
from cryptography.hazmat.primitives.kdf.hkdf import HKDF
from cryptography.hazmat.primitives.serialization import Encoding, PublicFormat

CON, NON, ACK, RST = 0, 1, 2, 3
URI_PATH, URI_QUERY, URI_SCHEME, HS_TYPE, COAPS_URI = 11, 15, 2111, 3999, 4005


def ext(v):
    if v < 13:
        return v, b""
    if v < 269:
        return 13, bytes([v - 13])
    return 14, struct.pack(">H", v - 269)


def encode(t, code, mid, token, options, payload=b""):
    out = bytes([0x40 | t << 4 | len(token), code]) + struct.pack(">H", mid) + token
    last = 0
    for num, val in sorted(options, key=lambda o: o[0]):
        d, dx = ext(num - last)
        l, lx = ext(len(val))
        out += bytes([d << 4 | l]) + dx + lx + val
        last = num
    return out + (b"\xff" + payload if payload else b"")


def decode(b):
    ver, t, tkl = b[0] >> 6, b[0] >> 4 & 3, b[0] & 15
    assert ver == 1 and tkl <= 8
    code, mid = b[1], struct.unpack(">H", b[2:4])[0]
    token, i, num, options = b[4:4 + tkl], 4 + tkl, 0, []
    while i < len(b) and b[i] != 0xFF:
        d, l = b[i] >> 4, b[i] & 15
        i += 1
        vals = []
        for n in (d, l):
            if n == 13:
                n, i = b[i] + 13, i + 1
            elif n == 14:
                n, i = struct.unpack(">H", b[i:i + 2])[0] + 269, i + 2
            vals.append(n)
        num += vals[0]
        options.append((num, b[i:i + vals[1]]))
        i += vals[1]
    payload = b[i + 1:] if i < len(b) else b""
    return t, code, mid, token, options, payload


def uint(v):
    return v.to_bytes((v.bit_length() + 7) // 8, "big") if v else b""


def opt(options, num):
    for n, v in options:
        if n == num:
            return v
    return None


class Keys:
    def __init__(self, own, peer_public, initiator):
        shared = own.exchange(X25519PublicKey.from_public_bytes(peer_public))
        okm = HKDF(algorithm=hashes.SHA256(), length=40, salt=None, info=b"").derive(shared)
        k1, k2, iv1, iv2 = okm[:16], okm[16:32], okm[32:36], okm[36:40]
        if initiator:
            self.seal_key, self.seal_iv, self.open_key, self.open_iv = k2, iv2, k1, iv1
        else:
            self.seal_key, self.seal_iv, self.open_key, self.open_iv = k1, iv1, k2, iv2

    @staticmethod
    def nonce(iv, mid):
        return iv + bytes([mid & 0xFF, mid >> 8]) + bytes(6)

    def seal(self, data, mid):
        e = Cipher(algorithms.AES(self.seal_key), modes.GCM(self.nonce(self.seal_iv, mid))).encryptor()
        return e.update(data) + e.finalize() + e.tag[:12]

    def open(self, data, mid):
        d = Cipher(algorithms.AES(self.open_key),
                   modes.GCM(self.nonce(self.open_iv, mid), data[-12:], min_tag_length=12)).decryptor()
        return d.update(data[:-12]) + d.finalize()


def public_bytes(key):
    return key.public_key().public_bytes(Encoding.Raw, PublicFormat.Raw)


def sealed_message(keys, t, code, mid, token, uri, payload):
    opts = [(URI_SCHEME, uint(1)), (COAPS_URI, keys.seal(uri.encode(), mid))]
    return encode(t, code, mid, token, opts, keys.seal(payload, mid) if payload else b"")


def opened(keys, msg):
    t, code, mid, token, options, payload = msg
    assert opt(options, URI_SCHEME) == uint(1), "not marked secure"
    uri = keys.open(opt(options, COAPS_URI), mid).decode()
    return uri, keys.open(payload, mid) if payload else b""


def client(addr, port, own):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.settimeout(5)
    mid = int.from_bytes(os.urandom(2), "big")
    token = os.urandom(4)
    s.sendto(encode(CON, 1, mid, token, [(HS_TYPE, uint(1))], public_bytes(own)), (addr, port))
    t, code, rmid, rtok, options, payload = decode(s.recv(2048))
    assert (t, code, rmid, rtok) == (ACK, 0x45, mid, token), "handshake answer"
    assert opt(options, HS_TYPE) == uint(2) and len(payload) == 32
    keys = Keys(own, payload, initiator=True)
    for code, path, body in ((2, "/echo", b"sealed body from python"), (1, "/hello", b"")):
        mid = (mid + 1) & 0xFFFF
        s.sendto(sealed_message(keys, CON, code, mid, token, "coaps://%s%s" % (addr, path), body),
                 (addr, port))
        answer = decode(s.recv(2048))
        assert answer[0] == ACK and answer[2] == mid and answer[3] == token, "sealed answer"
        assert opt(answer[4], URI_PATH) is None, "path in clear"
        uri, plain = opened(keys, answer)
        print("answer %d.%02d %s" % (answer[1] >> 5, answer[1] & 31, plain.decode()), flush=True)


def server(addr, port, own, count):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind((addr, port))
    s.settimeout(20)
    print("ready", flush=True)
    keys = None
    served = 0
    while served < count:
        data, peer = s.recvfrom(2048)
        t, code, mid, token, options, payload = msg = decode(data)
        if opt(options, HS_TYPE) == uint(1):
            keys = Keys(own, payload, initiator=False)
            s.sendto(encode(ACK, 0x45, mid, token, [(HS_TYPE, uint(2))], public_bytes(own)), peer)
            continue
        assert keys, "sealed request before the handshake"
        assert opt(options, URI_PATH) is None and opt(options, URI_QUERY) is None, "URI in clear"
        uri, body = opened(keys, msg)
        print("request %s %s" % (uri, body.decode()), flush=True)
        s.sendto(sealed_message(keys, ACK, 0x45, mid, token, "coaps://%s:%d" % peer, b"py:" + body),
                 peer)
        served += 1


def main():
    role, addr, port, key = sys.argv[1], sys.argv[2], int(sys.argv[3]), bytes.fromhex(sys.argv[4])
    own = X25519PrivateKey.from_private_bytes(key)
    if role == "client":
        client(addr, port, own)
    else:
        server(addr, port, own, int(sys.argv[5]))


if __name__ == "__main__":
    main()
