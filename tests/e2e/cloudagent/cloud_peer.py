#!/usr/bin/env python3
"""The cloud beside a cloudagent, written from the Mirel byte form, its
handshake and sealing and its block rules (the codec and keys of
tests/e2e/mirel/sec_peer.py), sharing no code with the library.

  cloud_peer.py serve ADDR LOG MODE
      The master (HTTP/1.0 on TCP 8081) and the Mirel server and data server
      (UDP 5683) on ADDR. LOG gets one JSON line per look-up and message;
      MODE is a JSON file read at each message:
        master_status ("200 OK"), master_body ("ADDR:5683"), master_fault
        ("never-close"), data (the data-server address answered to /get),
        alive (answer keep-alives, true), start ("answer" or "drop")
  cloud_peer.py ask [--sealed] AGENT METHOD PATH [QUERY [BODY]]
      One request to the agent's endpoint from a port of its own (sealed
      after a handshake with --sealed); prints "CODE FORMAT PAYLOAD" (CODE
      as 2.05, FORMAT "-" when none), collecting a block-wise answer whole.
"""
import json
import os
import socket
import sys
import threading
import urllib.parse

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "mirel"))
from sec_peer import (ACK, CON, NON, COAPS_URI, HS_TYPE, URI_SCHEME, Keys, X25519PrivateKey, decode, encode,  # noqa: E402
                      opened, opt, public_bytes, sealed_message, uint)

URI_PATH, CONTENT_FORMAT, URI_QUERY, BLOCK2, SR_WINDOW = 11, 12, 15, 23, 3001
log_lock = threading.Lock()


def record(log, entry):
    with log_lock, open(log, "a") as f:
        f.write(json.dumps(entry) + "\n")


def mode_of(path):
    try:
        with open(path) as f:
            return json.load(f)
    except (OSError, ValueError):
        return {}


def master(addr, log, mode):
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.bind((addr, 8081))
    s.listen(16)
    held = []
    while True:
        c, _ = s.accept()
        data = b""
        c.settimeout(5)
        try:
            while b"\r\n\r\n" not in data:
                piece = c.recv(1024)
                if not piece:
                    break
                data += piece
        except OSError:
            pass
        line = data.split(b"\r\n", 1)[0].decode(errors="replace")
        query = urllib.parse.parse_qs(urllib.parse.urlsplit(line.split(" ")[1] if " " in line else "").query)
        m = mode_of(mode)
        record(log, {"kind": "master", "cid": query.get("cid", [""])[0], "type": query.get("type", [""])[0],
                     "error": query.get("error", [""])[0], "host": data.split(b"Host: ")[-1].split(b"\r\n")[0].decode()})
        body = m.get("master_body", "%s:5683" % addr)
        c.sendall(("HTTP/1.0 %s\r\nContent-Type: text/plain\r\n\r\n%s" % (m.get("master_status", "200 OK"), body)).encode())
        if m.get("master_fault") == "never-close":
            held.append(c)
        else:
            c.close()


def split_query(options):
    out = []
    for n, v in options:
        if n == URI_QUERY:
            k, _, val = v.decode(errors="replace").partition("=")
            out.append([k, val])
    return out


def q_peer(query):
    """The peer a "/get" asks for, other than the data server."""
    peer = dict(query).get("peer_cid", "data")
    return None if peer == "data" else peer


def serve(addr, log, mode):
    threading.Thread(target=master, args=(addr, log, mode), daemon=True).start()
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind((addr, 5683))
    own = X25519PrivateKey.generate()
    sessions = {}
    starts = 0
    print("ready", flush=True)
    while True:
        data, peer = s.recvfrom(2048)
        try:
            t, code, mid, token, options, payload = msg = decode(data)
        except Exception:
            continue
        if t not in (CON, NON) or not 1 <= code <= 4:
            continue
        m = mode_of(mode)
        if opt(options, HS_TYPE) == uint(1):
            try:
                sessions[peer] = Keys(own, payload, initiator=False)
            except ValueError as e:
                record(log, {"kind": "handshake-refused", "error": str(e), "from": "%s:%d" % peer})
                continue
            s.sendto(encode(ACK, 0x45, mid, token, [(HS_TYPE, uint(2))], public_bytes(own)), peer)
            continue
        sealed = opt(options, URI_SCHEME) == uint(1)
        if sealed:
            if peer not in sessions:
                continue
            try:
                uri, body = opened(sessions[peer], msg)
            except Exception as e:
                record(log, {"kind": "unsealing-failed", "error": repr(e)})
                continue
            parts = urllib.parse.urlsplit(uri)
            path = parts.path
            query = [[k, v] for k, v in urllib.parse.parse_qsl(parts.query, keep_blank_values=True)]
        else:
            path = "/" + "/".join(v.decode() for n, v in options if n == URI_PATH)
            query = split_query(options)
            body = payload
        record(log, {"kind": "coap", "type": t, "path": path, "query": query, "sealed": sealed,
                     "payload": body.decode(errors="replace"), "from": "%s:%d" % peer})
        answer = None
        if path == "/get" and not q_peer(query):
            answer = (0x45, (m.get("data") or "%s:5683" % addr).encode())
        elif path == "/a":
            if m.get("alive", True):
                answer = (0x44, b"")
        elif path == "/get" and q_peer(query):
            answer = (0x45, (m.get("peer_address") or "%s:5683" % addr).encode())
        elif path == "/r":
            is_start = b'"t":"Start"' in body
            if is_start:
                starts += 1
            if not (is_start and m.get("start") == "drop"):
                answer = (0x44, b"")
        if t != CON or answer is None:
            continue
        if sealed:
            s.sendto(sealed_message(sessions[peer], ACK, answer[0], mid, token, "coaps://%s:%d" % peer, answer[1]),
                     peer)
        else:
            s.sendto(encode(ACK, answer[0], mid, token, [], answer[1]), peer)


def ask(agent, method, path, query, body, sealed=False):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind(("0.0.0.0", 0))
    s.settimeout(float(os.environ.get("ASK_TIMEOUT", "8")))
    mid = int.from_bytes(os.urandom(2), "big")
    token = os.urandom(8)
    codes = {"GET": 1, "POST": 2, "PUT": 3, "DELETE": 4}
    keys = None
    if sealed:
        own = X25519PrivateKey.generate()
        s.sendto(encode(CON, 1, mid, token, [(HS_TYPE, uint(1))], public_bytes(own)), (agent, 5683))
        t, code, rmid, rtok, options, payload = decode(s.recv(2048))
        assert (t, code, rmid) == (ACK, 0x45, mid) and opt(options, HS_TYPE) == uint(2), "handshake answer"
        keys = Keys(own, payload, initiator=True)
        mid = (mid + 1) & 0xFFFF
        uri = "coaps://%s:5683%s%s" % (agent, path, "?" + query if query else "")
        s.sendto(sealed_message(keys, CON, codes[method], mid, token, uri, body.encode()), (agent, 5683))
    else:
        opts = [(URI_PATH, seg.encode()) for seg in path.strip("/").split("/")]
        if query:
            opts += [(URI_QUERY, urllib.parse.unquote_to_bytes(q)) for q in query.split("&")]
        s.sendto(encode(CON, codes[method], mid, token, opts, body.encode()), (agent, 5683))
    blocks, last, code, fmt = {}, None, None, None
    while True:
        data, peer = s.recvfrom(2048)
        t, rcode, rmid, rtok, options, payload = msg = decode(data)
        if rtok != token:
            continue
        if keys and opt(options, URI_SCHEME) == uint(1):
            payload = opened(keys, msg)[1]
        block = opt(options, BLOCK2)
        if t == ACK and rmid == mid and block is None:
            if rcode == 0 and opt(options, SR_WINDOW) is not None:
                continue  # a block-wise answer is announced
            code, fmt, whole = rcode, opt(options, CONTENT_FORMAT), payload
            break
        if t == CON and block is not None:
            v = int.from_bytes(block, "big")
            num, more = v >> 4, v >> 3 & 1
            blocks[num] = payload
            code, fmt = rcode, opt(options, CONTENT_FORMAT)
            if not more:
                last = num
            s.sendto(encode(ACK, 0x5F if more else 0, rmid, rtok,
                            [(BLOCK2, block), (SR_WINDOW, opt(options, SR_WINDOW) or b"")]), peer)
            if last is not None and all(i in blocks for i in range(last + 1)):
                whole = b"".join(blocks[i] for i in range(last + 1))
                break
    f = "-" if fmt is None else str(int.from_bytes(fmt, "big"))
    print("%d.%02d %s %s" % (code >> 5, code & 31, f, whole.decode(errors="replace")), flush=True)


def main():
    if sys.argv[1] == "serve":
        serve(sys.argv[2], sys.argv[3], sys.argv[4])
    else:
        sealed = sys.argv[2] == "--sealed"
        a = sys.argv[3 if sealed else 2:] + ["", ""]
        ask(a[0], a[1], a[2], a[3], a[4], sealed)


if __name__ == "__main__":
    main()
