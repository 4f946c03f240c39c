# cloudagent under hostile load (ASan in CI): floods of requests and logins,
# malformed and truncated datagrams, silent clients of long answers, a core
# that drips, answers after its time, sends too much or breaks its form, a
# master that answers wrongly or never closes, and a core that dies. The agent
# stays within its memory, keeps serving, and a lost core ends it cleanly.
set -euo pipefail
. "$FW_SOURCE_DIR/tests/harness/lib.sh"
require_scenario_ns
agent=$1 sockets=$2
here=$(cd "$(dirname "$0")" && pwd)
peer="$here/cloud_peer.py"
work=$(mktemp -d /tmp/cloud.XXXXXX)

ns_add_host cloud 10.9.0.2/24 10.9.0.1/24
big=$(python3 -c 'print("x" * 10240)')
cat > "$work/routes.json" <<END
{
  "/rci/show/version/release": "\"4.1.5\"",
  "/rci/show/last-change/checksum": "\"c0ffee\"",
  "/rci/show/system": {"cpuload": 1, "memory": "1/2"},
  "/rci/drip": {"\$reply": {"fault": "drip"}},
  "/rci/huge": {"\$reply": {"fault": "huge"}},
  "/rci/bad": {"\$reply": {"fault": "bad-status"}},
  "/rci/reason": {"\$reply": {"fault": "long-reason", "body": "{}"}},
  "/rci/big": "\"$big\""
}
END
"$sockets" --routes "$work/routes.json" --log "$work/core.log" --user admin:secret > "$work/sockets.out" 2>&1 &
core=$!
on_exit quiet_kill "$core"
wait_line "$work/sockets.out" ready

# The master answers wrongly at first: another status, an empty body, a line
# end after the port, a bad address, then a connection it never closes.
echo '{"master_status": "500 Internal Server Error"}' > "$work/mode.json"
ns_exec cloud python3 "$peer" serve 10.9.0.2 "$work/cloud.log" "$work/mode.json" > "$work/cloud.out" 2>&1 &
on_exit quiet_kill $!
wait_line "$work/cloud.out" ready

export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}quarantine_size_mb=8
CLOUDAGENT_TICK_MS=150 "$agent" -f -l -c 0123abcd-0000-4000-8000-00000000beef -k "$(od -An -tx1 -N32 /dev/urandom | tr -d " \n")" 10.9.0.1 \
  > "$work/agent.out" 2>&1 &
agent_pid=$!
on_exit quiet_kill "$agent_pid"
wait_port udp 5683
masters() { cat "$work/cloud.log" 2> /dev/null | grep -c "\"kind\": \"master\"" || true; }
gets() { cat "$work/cloud.log" 2> /dev/null | grep -c "\"path\": \"/get\"" || true; }
# at_least COUNTER N: whether the counter (masters, gets) reached N now.
at_least() { [ "$("$1")" -ge "$2" ]; }
for mode in '{"master_body": ""}' '{"master_body": "10.9.0.2:5683\r\n"}' '{"master_body": "10.9.0.300:5683"}' \
  '{"master_fault": "never-close", "master_status": "200 OK\r\nX: y"}'; do
  n=$(masters)
  printf '%s\n' "$mode" > "$work/mode.json"
  wait_until 25 at_least masters "$((n + 2))" || fail "no lookup again after $mode: $(cat "$work/cloud.log" "$work/cloud.out"; tail -5 "$work/agent.out")"
done
expect "data-server lookups after wrong masters" "$(gets)" 0
echo '{}' > "$work/mode.json"
# The connection that never closed ends at the look-up's deadline.
wait_until 20 at_least gets 1 || fail "no session after the master mended: $(tail "$work/agent.out")"
log "wrong masters: looked up again each time, then a session"

ask() { ns_exec cloud env ASK_TIMEOUT="${ASK_TIMEOUT:-8}" python3 "$peer" ask 10.9.0.1 "$@"; }
login() {
  local out
  out=$(ask POST /zmo/login 'login=admin&pass=secret' 2>&1) || true
  [[ "$out" =~ ^2\.05\ 0\ ([0-9a-f-]{36})$ ]] || fail "login: $out: $(tail -30 "$work/agent.out")"
  token=${BASH_REMATCH[1]}
}
rss() { awk '/^VmRSS/ { print $2 }' "/proc/$agent_pid/status"; }
before=$(rss)

log "floods, garbage and silent clients"
ns_exec cloud python3 - <<'PY'
import os, random, socket, struct, time
rnd = random.Random(8081)
dst = ("10.9.0.1", 5683)

def req(code, mid, path, query=(), body=b""):
    out = bytes([0x44, code]) + struct.pack(">H", mid) + b"tokn"
    last = 0
    for num, val in [(11, s.encode()) for s in path.strip("/").split("/")] + [(15, q) for q in query]:
        d = num - last
        last = num
        hd, dx = (d, b"") if d < 13 else (13, bytes([d - 13]))
        hl, lx = (len(val), b"") if len(val) < 13 else (13, bytes([len(val) - 13])) if len(val) < 269 else \
            (14, struct.pack(">H", len(val) - 269))
        out += bytes([hd << 4 | hl]) + dx + lx + val
    return out + (b"\xff" + body if body else b"")

socks = [socket.socket(socket.AF_INET, socket.SOCK_DGRAM) for _ in range(100)]
for i in range(20000):
    s = socks[i % len(socks)]
    k = i % 6
    mid = rnd.randrange(65536)
    if k == 0:
        s.sendto(req(2, mid, "/zmo/login", [b"login=admin", b"pass=" + os.urandom(8).hex().encode()]), dst)
    elif k == 1:
        s.sendto(req(1, mid, "/zmo/ci", [b"req=/rci/x", b"t=" + os.urandom(18).hex()[:36].encode()]), dst)
    elif k == 2:
        s.sendto(req(1, mid, "/zmo/ci", [os.urandom(rnd.randrange(0, 40)) for _ in range(rnd.randrange(4))]), dst)
    elif k == 3:
        s.sendto(req(2, mid, "/uhp", [b"cid=" + os.urandom(rnd.randrange(0, 50))]), dst)
    elif k == 4:
        # Up to the block size: a longer echo is a transfer, and those have
        # their own step below.
        s.sendto(req(2, mid, "/mirror", [], os.urandom(rnd.randrange(0, 1001))), dst)
    else:
        s.sendto(os.urandom(rnd.randrange(1, 80)), dst)
    if i % 500 == 499:
        time.sleep(0.02)
good = req(2, 0x1234, "/zmo/login", [b"login=admin", b"pass=secret"])
for n in range(len(good)):
    socks[0].sendto(good[:n], dst)
print("flood sent")
PY
login
# Silent clients: long answers block-wise to peers that never acknowledge.
# They hold the endpoint's transfers until these expire (60 s idle); below
# the endpoint's 16 running transfers, answers to others still go out.
ns_exec cloud python3 - "$token" <<'PY'
import socket, struct, sys
dst = ("10.9.0.1", 5683)
def ci(mid, token):
    out = bytes([0x44, 1]) + struct.pack(">H", mid) + b"slnt"
    out += bytes([0xb3]) + b"zmo" + bytes([0x02]) + b"ci"
    q1 = b"req=/rci/big"
    q2 = ("t=" + token).encode()
    out += bytes([0x4c]) + q1 + bytes([0x0d, len(q2) - 13]) + q2
    return out
for i in range(10):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.sendto(ci(4000 + i, sys.argv[1]), dst)
print("silent clients sent")
PY

log "core faults"
login
expect "info after the flood" "$(ask GET /info | cut -c1-9)" '2.05 0 {"'
expect "huge core answer" "$(ask GET /zmo/ci "req=/rci/huge&t=$token")" "5.00 - 0x4"
expect "broken core answer" "$(ask GET /zmo/ci "req=/rci/bad&t=$token")" "5.00 - 0x4"
expect "long reason" "$(ask GET /zmo/ci "req=/rci/reason&t=$token")" "2.05 50 {}"
start=$SECONDS
expect "dripping core" "$(ASK_TIMEOUT=15 ask GET /zmo/ci "req=/rci/drip&t=$token")" "5.00 - 0x4"
[ $((SECONDS - start)) -le 12 ] || fail "the drip held the agent $((SECONDS - start)) s"
login
got=$(ask GET /zmo/ci "req=/rci/big&t=$token" 2>&1) ||
  fail "no long answer after the silent clients: $(grep -v 'master lookup' "$work/agent.out" | tail -30)"
expect "10 KiB after the silent clients" "${#got}" $((8 + 10242))

after=$(rss)
log "resident size ${before} kB before, ${after} kB after"
[ $((after - before)) -lt 65536 ] || fail "resident size grew by $((after - before)) kB"
grep -q 'ERROR: AddressSanitizer\|runtime error' "$work/agent.out" && fail "sanitizer: $(cat "$work/agent.out")"

log "the core dies: requests fail, and the agent ends"
kill -KILL "$core"
wait "$core" 2> /dev/null || true
set +e
wait "$agent_pid"
status=$?
set -e
expect "exit status after the core's end" "$status" 1
grep -q 'core event connection lost' "$work/agent.out" || fail "no word of the lost core: $(tail "$work/agent.out")"
grep -q 'ERROR: AddressSanitizer\|runtime error' "$work/agent.out" && fail "sanitizer: $(cat "$work/agent.out")"
log "hostile scenario: ok"
