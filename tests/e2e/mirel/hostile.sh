#!/usr/bin/env bash
# The endpoint under hostile load, as built (ASan in CI): a flood of
# requests from many peers, the same request over and over, malformed,
# truncated and oversized datagrams, answers to nothing, peers that never
# read. Afterwards it still serves, ran each handler once, kept its memory
# bounded and stops cleanly.
#   hostile.sh MIREL_NODE
# Runs under tests/harness/nsrun.
set -euo pipefail
node=$1
. "$FW_SOURCE_DIR/tests/harness/lib.sh"
require_scenario_ns
command -v coap-client-notls >/dev/null || { echo "coap-client-notls missing: skipped"; exit 77; }
work=/tmp/hostile
mkdir -p "$work"

# A small quarantine, so that the resident size shows what the endpoint
# keeps rather than what the sanitizer holds back.
export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}quarantine_size_mb=8:detect_leaks=1
"$node" serve 127.0.0.1 > "$work/server.out" 2> "$work/server.err" &
server=$!
on_exit bash -c "kill $server 2>/dev/null || true"
wait_port udp 5683
rss() { awk '/^VmRSS/ { print $2 }' "/proc/$server/status"; }
get_hello() { timeout 10 coap-client-notls -B 3 -m get coap://127.0.0.1/hello; }
[ "$(get_hello)" = hello ] || fail "no answer before the flood"
before=$(rss)

log "flood, repeats and garbage"
python3 - <<'PY'
import os, random, socket, struct, time
rnd = random.Random(5683)
dst = ("127.0.0.1", 5683)

def con(mid, path, body=b"", tok=b"t"):
    opts = b""
    for seg in path.strip("/").split("/"):
        s = seg.encode()
        opts += bytes([0xb0 | len(s)]) + s if not opts else bytes([len(s)]) + s
    return bytes([0x40 | len(tok), 0x02 if body else 0x01]) + struct.pack(">H", mid) + tok + opts + \
        (b"\xff" + body if body else b"")

# Many peers at once, none of them reading its answers.
socks = [socket.socket(socket.AF_INET, socket.SOCK_DGRAM) for _ in range(200)]
end = time.time() + 4
sent = 0
while time.time() < end and sent < 60000:
    s = socks[sent % len(socks)]
    s.sendto(con(rnd.randrange(65536), "/hello"), dst)
    sent += 1
# One command request, repeated 3000 times by the same peer: one run. The
# flood above may fill the endpoint's receive buffer, so the copies come
# after a moment and in bursts: the first of them surely gets in.
time.sleep(0.5)
rep = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
msg = con(0x4242, "/cmd", b"once-only")
for i in range(3000):
    rep.sendto(msg, dst)
    if i % 100 == 99:
        time.sleep(0.01)
# Malformed and truncated datagrams, answers to nothing, oversized ones.
good = con(0x1111, "/cmd", b"cut-me")
for n in range(len(good)):
    rep.sendto(good[:n], dst)
for _ in range(5000):
    rep.sendto(os.urandom(rnd.randrange(1, 64)), dst)
for tkl in range(9, 16):
    rep.sendto(bytes([0x40 | tkl, 1, 0, tkl]) + b"x" * 20, dst)
for mid in range(2000):
    rep.sendto(bytes([0x60, 0x45]) + struct.pack(">H", mid) + b"\xffnobody asked", dst)
    rep.sendto(bytes([0x70, 0x00]) + struct.pack(">H", mid), dst)
for size in (1501, 4000, 65000):
    rep.sendto(con(0x2222, "/cmd", b"y" * size), dst)
print("sent", sent)
PY
[ "$(get_hello)" = hello ] || fail "no answer after the flood"
after=$(rss)
log "resident size ${before} kB before, ${after} kB after"
[ $((after - before)) -lt 65536 ] || fail "resident size grew by $((after - before)) kB"
[ "$(grep -c '^run /cmd once-only$' "$work/server.out")" = 1 ] || fail "the repeated request ran $(grep -c '^run /cmd once-only$' "$work/server.out") times"
grep -q '^run /cmd cut-me' "$work/server.out" && fail "a truncated request reached a handler"
grep -q '^run /cmd yyy' "$work/server.out" && fail "an oversized request reached a handler"

kill -TERM "$server"
wait "$server" || fail "the endpoint did not stop cleanly: $(tail -20 "$work/server.err")"
if grep -q 'ERROR: AddressSanitizer\|runtime error' "$work/server.err"; then
  fail "sanitizer report: $(cat "$work/server.err")"
fi
log "the endpoint took the hostile load"
