#!/usr/bin/env bash
# The query road with real clients (dig, kdig) and upstreams: nsd, and
# scripted servers that drop, delay, fail, cut, lie about the id, answer
# from the wrong port, reflect the query or loop it back to the proxy.
set -euo pipefail
. "$FW_SOURCE_DIR/tests/harness/lib.sh"
require_scenario_ns
daemon=$1
. "$(dirname "$0")/lib_dns.sh"

start_nsd 127.0.0.2 5353
# Each fault peer has an address of its own, with a good server for the
# same domain on another port of that address: statistics and ranks go by
# address, so the two always rank alike and the newest (the faulty one) is
# tried first.
faults=(drop delay servfail empty wrongid reflect tc ptrloop ptrfwd rdlen count longname)
specs=(127.0.0.5:5300:good 127.0.0.40:5300:slow 127.0.0.41:5300:fast 127.0.0.42:5300:spoof 127.0.0.43:5300:nx
  127.0.0.44:5300:loop)
conf="$work/main.conf"
cat >"$conf" <<CONF
timeout = 1000
proceed = 200
stat_file = /var/run/dnsrelayd.stats
stat_time = 100
dns_server = 127.0.0.5:5300
dns_server = 127.0.0.2:5353 example.test
static_a = router.lan 192.168.1.1
static_a = *.wild.lan 192.168.1.2
static_aaaa = v6.lan 2001:db8::53
dns_server = 127.0.0.41:5300 rank.test
dns_server = 127.0.0.40:5300 rank.test
dns_server = 127.0.0.42:5300 spoof.test
dns_server = 127.0.0.43:5300 nxdomain.test
dns_server = 127.0.0.44:5300 loop.test
CONF
i=10
for f in "${faults[@]}"; do
  specs+=("127.0.0.$i:5300:$f" "127.0.0.$i:5301:good")
  printf 'dns_server = 127.0.0.%d:5301 %s.test\ndns_server = 127.0.0.%d:5300 %s.test\n' $i "$f" $i "$f" >>"$conf"
  i=$((i + 1))
done
start_peers "${specs[@]}"
start_proxy "$daemon" "$conf"

# A silent TCP client: its slot must come back.
/usr/bin/python3 -c '
import socket, time, sys
s = socket.create_connection(("127.0.0.1", 53))
t0 = time.monotonic()
s.settimeout(20)
data = s.recv(10)
print("closed" if data == b"" else "data", round(time.monotonic() - t0))
' >"$work/idle.out" 2>&1 &
idle_pid=$!

log "ranks: the faster server comes first"
# First of all, while no server has a sample: equal ranks, so the newest
# server of the domain (the slow one, 100 ms) is tried first and answers
# before proceed. The untried fast one (20 ms) gets a random rank that
# sometimes puts it first; once it has answered, it stays first.
[ "$(ask q1.rank.test A)" = 192.0.2.80 ] || fail "rank.test query 1"
[ "$(peer_count slow q1.rank.test.)" = 1 ] || fail "the slow server was not tried first at the start"
i=1
while [ "$(peer_count slow "q$i.rank.test.")" != 0 ]; do
  i=$((i + 1))
  [ $i -le 60 ] || fail "the fast server never came first: $(cat /var/run/dnsrelayd.stats)"
  [ "$(ask "q$i.rank.test" A)" = 192.0.2.80 ] || fail "rank.test query $i"
  sleep 0.1
done
sleep 0.2
for j in 1 2 3 4 5; do
  [ "$(ask "r$j.rank.test" A)" = 192.0.2.80 ] || fail "rank.test query r$j"
  [ "$(peer_count slow "r$j.rank.test.")" = 0 ] || fail "the slow server came first again: $(cat /var/run/dnsrelayd.stats)"
done
fast_rank=$(awk '$1 == "127.0.0.41" { print $7 }' /var/run/dnsrelayd.stats)
slow_rank=$(awk '$1 == "127.0.0.40" { print $7 }' /var/run/dnsrelayd.stats)
[ "$fast_rank" -gt "$slow_rank" ] || fail "ranks fast $fast_rank, slow $slow_rank"

log "static records: exact, wildcard, IPv6; other types and names are forwarded"
[ "$(ask router.lan A)" = 192.168.1.1 ] || fail "static A"
[ "$(ask deep.down.wild.lan A)" = 192.168.1.2 ] || fail "wildcard static"
[ "$(ask wild.lan A)" = 192.168.1.2 ] || fail "wildcard static for the name itself"
[ "$(ask v6.lan AAAA)" = 2001:db8::53 ] || fail "static AAAA"
[ "$(ask sub.router.lan A)" = 192.0.2.80 ] || fail "an exact static record answered a name below it"
ask router.lan AAAA >/dev/null || true
[ "$(peer_count good router.lan. )" -ge 1 ] || fail "AAAA of a v4-only static name was not forwarded"
[ "$(dig @127.0.0.1 +tries=1 +time=3 router.lan A | grep -c 'ANSWER: 1')" = 1 ] || fail "static reply counts"

log "nsd upstream over UDP and TCP, dig and kdig"
[ "$(ask www.example.test A)" = 192.0.2.10 ] || fail "dig UDP via nsd"
[ "$(ask +tcp www.example.test AAAA)" = 2001:db8::10 ] || fail "dig TCP via nsd"
[ "$(kdig @127.0.0.1 +short +timeout=3 +retry=0 a.wild.example.test A)" = 192.0.2.11 ] || fail "kdig UDP"
[ "$(kdig @127.0.0.1 +tcp +short +timeout=3 +retry=0 txt.example.test TXT)" = '"hello \"quoted\" world"' ] ||
  fail "kdig TCP TXT"
[ "$(kdig @::1 +short +timeout=3 +retry=0 www.example.test A)" = 192.0.2.10 ] || fail "kdig over IPv6"
[ "$(status_of nope.example.test A)" = NXDOMAIN ] || fail "NXDOMAIN from nsd"
# The two length bytes of a TCP query arrive one by one, then the rest.
/usr/bin/python3 - <<'PY' || fail "a TCP query split in pieces got no answer"
import socket, struct, time
q = struct.pack("!HHHHHH", 0x1234, 0x0100, 1, 0, 0, 0) + b"\x03www\x07example\x04test\x00" + struct.pack("!HH", 1, 1)
s = socket.create_connection(("127.0.0.1", 53), timeout=5)
for part in (struct.pack("!H", len(q))[:1], struct.pack("!H", len(q))[1:], q[:5], q[5:]):
    s.sendall(part)
    time.sleep(0.05)
n = struct.unpack("!H", s.recv(2))[0]
a = b""
while len(a) < n:
    a += s.recv(n - len(a))
assert a[:2] == b"\x12\x34" and bytes([192, 0, 2, 10]) in a, a
PY

log "cache: the second query never reaches the upstream"
[ "$(ask cache.lan A)" = 192.0.2.80 ] || fail "first cache.lan"
[ "$(ask CACHE.lan A)" = 192.0.2.80 ] || fail "second cache.lan"
[ "$(peer_count good cache.lan.)" = 1 ] || fail "the upstream saw the cached name again"
grep -q '^;Cache.LAN\.' <<< "$(dig @127.0.0.1 +tries=1 +time=3 Cache.LAN A)" || fail "the cached reply lost the asker's spelling"
ask cache.lan CAA >/dev/null || true
[ "$(peer_count good cache.lan.)" = 2 ] || fail "CAA was answered from the A entry"

log "faulty first servers: the second is tried, at once or after proceed"
# mode  answer  the reply comes at or after proceed (200 ms)?
while read -r mode want slow; do
  t0=$(date +%s%N)
  got=$(ask "q.$mode.test" A)
  took=$((($(date +%s%N) - t0) / 1000000))
  [ "$got" = "$want" ] || fail "$mode: got '$got', want $want"
  [ "$(peer_count "$mode" "q.$mode.test.")" -ge 1 ] || fail "$mode: the faulty server was not tried first"
  if [ "$slow" = yes ]; then
    [ $took -ge 190 ] || fail "$mode: answered after $took ms, before proceed"
  else
    [ $took -lt 190 ] || fail "$mode: answered after $took ms, not at once"
  fi
done <<'CASES'
drop 192.0.2.80 yes
delay 192.0.2.80 yes
servfail 192.0.2.80 no
empty 192.0.2.80 no
wrongid 192.0.2.80 yes
reflect 192.0.2.80 yes
ptrloop 192.0.2.80 no
ptrfwd 192.0.2.80 no
rdlen 192.0.2.80 no
count 192.0.2.80 no
longname 192.0.2.80 no
CASES

log "malformed answers: neither relayed nor cached; the good one is"
for mode in ptrloop ptrfwd rdlen count longname; do
  [ "$(ask "q.$mode.test" A)" = 192.0.2.80 ] || fail "$mode: the cached answer is not the good one"
  [ "$(peer_count "$mode" "q.$mode.test.")" = 1 ] || fail "$mode: not answered from the cache"
done
grep -q 'malformed answer from' "$work/proxy.log" || fail "malformed answers were not reported"
grep -q 'missed query' "$work/proxy.log" || fail "the wrong id was not reported"

log "truncated upstream answer: relayed with TC, the client retries over TCP"
[ "$(ask q.tc.test A)" = 192.0.2.99 ] || fail "TC answer not relayed (the TCP retry answers 192.0.2.99)"
grep -q '^tc q.tc.test. 1 - tcp$' "$work/peers.log" || fail "no TCP retry reached the server"

log "spoofed source: an answer from another port is ignored"
[ "$(ask q.spoof.test A)" = 192.0.2.80 ] || fail "spoofed answer accepted"
grep -q 'ignored: not the server asked' "$work/proxy.log" || fail "spoofed answer not reported"

log "NXDOMAIN with SOA: relayed as NXDOMAIN, then from the cache"
[ "$(status_of q.nxdomain.test A)" = NXDOMAIN ] || fail "NXDOMAIN"
[ "$(status_of q.nxdomain.test A)" = NXDOMAIN ] || fail "NXDOMAIN again"
[ "$(peer_count nx q.nxdomain.test.)" = 1 ] || fail "NXDOMAIN was not cached"

log "a loop through an upstream is dropped and that server left out"
[ "$(status_of q.loop.test A)" = REFUSED ] || fail "looping server's domain: not REFUSED"
grep -q 'Proxy loop detected: 127.0.0.44 <-> 127.0.0.44, request dropped' "$work/proxy.log" ||
  fail "loop not detected"
grep -q 'DNS server 127.0.0.44 inactivated' "$work/proxy.log" || fail "looping server not inactivated"
[ "$(status_of r.loop.test A)" = REFUSED ] || fail "second loop.test query"
[ "$(peer_count loop r.loop.test.)" = 0 ] || fail "the inactive server was tried again"

log "an idle TCP connection is closed"
wait "$idle_pid" || true
grep -Eq '^closed (9|10|11|12)$' "$work/idle.out" || fail "idle connection: $(cat "$work/idle.out")"

kill -0 "$proxy_pid" || fail "the proxy died"
kill -TERM "$proxy_pid"
wait "$proxy_pid" || fail "unclean stop"
log "ok"
