#!/usr/bin/env bash
# TCP clients that abuse their slots: connections that send only a length
# prefix must not push the cache out, and 300 connections that drip a byte
# every few seconds must neither keep new TCP clients (and the upstream TCP
# tries their queries need) out nor stop UDP.
set -euo pipefail
. "$FW_SOURCE_DIR/tests/harness/lib.sh"
require_scenario_ns
daemon=$1
. "$(dirname "$0")/lib_dns.sh"

start_peers 127.0.0.5:5300:good
conf="$work/main.conf"
cat >"$conf" <<CONF
dns_server = 127.0.0.5:5300
max_mem = 64K
CONF
start_proxy "$daemon" "$conf"

log "a warm cache stays warm while connections announce 64K messages"
for i in $(seq 1 20); do [ "$(ask "c$i.lan" A)" = 192.0.2.80 ] || fail "c$i.lan"; done
/usr/bin/python3 - "$work/prefix.out" <<'PY' &
import socket, sys, time
conns = []
for _ in range(4):
    s = socket.create_connection(("127.0.0.1", 53))
    s.sendall(b"\xff\xff")
    conns.append(s)
open(sys.argv[1], "w").write("sent\n")
time.sleep(3)
PY
prefix_pid=$!
wait_line "$work/prefix.out" sent
sleep 0.2 # the proxy reads them
for i in $(seq 1 20); do [ "$(ask "c$i.lan" A)" = 192.0.2.80 ] || fail "c$i.lan again"; done
for i in $(seq 1 20); do
  [ "$(peer_count good "c$i.lan.")" = 1 ] || fail "c$i.lan left the cache for a length prefix"
done
wait "$prefix_pid" || true

log "300 connections dripping a byte every 5 s"
/usr/bin/python3 - "$work/drip.out" <<'PY' &
import select, socket, sys, time
# Each connection's life is counted from its first byte that went out (a
# connection the backlog kept waiting sends its first byte later).
conns, first, closed = [], {}, {}
t0 = time.monotonic()
for i in range(300):
    s = socket.socket()
    s.setblocking(False)
    s.connect_ex(("127.0.0.1", 53))
    conns.append(s)
time.sleep(0.3)
def drip():
    for s in conns:
        if s in closed:
            continue
        try:
            if s.send(b"\x00") == 1 and s not in first:
                first[s] = time.monotonic()
        except BlockingIOError:
            pass
        except OSError:
            closed[s] = time.monotonic()
drip()
last = time.monotonic()
while time.monotonic() - t0 < 14 and len(closed) < len(conns):
    r, _, _ = select.select([s for s in conns if s not in closed], [], [], 0.2)
    for s in r:
        try:
            data = s.recv(16)
        except OSError:
            data = b""
        if not data:
            closed[s] = time.monotonic()
    if time.monotonic() - last >= 5:
        last = time.monotonic()
        drip()
lives = [closed[s] - first[s] for s in closed if s in first]
with open(sys.argv[1], "w") as out:
    out.write("%d %.1f\n" % (len(closed), max(lives) if lives else -1))
PY
drip_pid=$!
sleep 1.5
t0=$(date +%s%N)
got=$(dig @127.0.0.1 +tcp +short +tries=1 +time=4 fresh.tcp.lan A) || true
took=$((($(date +%s%N) - t0) / 1000000))
[ "$got" = 192.0.2.80 ] || fail "a new TCP client got '$got' with the drippers on"
[ $took -lt 4000 ] || fail "a new TCP client waited $took ms"
grep -q '^good fresh.tcp.lan. 1 - tcp$' "$work/peers.log" || fail "the query did not go upstream over TCP"
for i in $(seq 1 10); do
  [ "$(ask "u$i.lan" A)" = 192.0.2.80 ] || fail "UDP stopped with the drippers on (u$i.lan)"
  sleep 0.2
done
wait "$drip_pid" || true
read -r closed last <"$work/drip.out"
# The message deadline (4 s from the first byte, checked every second).
[ "$closed" = 300 ] || fail "only $closed of 300 dripping connections were closed"
awk -v l="$last" 'BEGIN { exit !(l <= 6.5) }' || fail "the last dripping connection lasted $last s"
log "a new TCP client: $took ms; drippers all closed, the last after $last s"

kill -0 "$proxy_pid" || fail "the proxy died"
kill -TERM "$proxy_pid"
wait "$proxy_pid" || fail "unclean stop"
if grep -Eq 'AddressSanitizer|runtime error' "$work/proxy.log"; then fail "sanitizer report"; fi
log "ok"
