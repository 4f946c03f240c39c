#!/usr/bin/env bash
# dnsrelayd in a namespace of its own: usage without -c, both configuration
# files, UDP and TCP listeners on IPv4 and IPv6, the pid file, a reload on
# SIGURG that picks up changed files, and a clean stop on SIGTERM.
set -euo pipefail
. "$FW_SOURCE_DIR/tests/harness/lib.sh"
require_scenario_ns
daemon=$1
work=$(mktemp -d)
pidfile=/var/run/dnsrelayd.pid
stats=/var/run/dnsrelayd.stats

log "usage without -c"
set +e
"$daemon" -s /var/dnsrelaydsafe.conf >"$work/out" 2>"$work/err"
status=$?
set -e
[ $status -eq 1 ] || fail "without -c the status is $status, not 1"
[ ! -s "$work/out" ] || fail "usage went to standard output"
head -2 "$work/err" | diff - <(printf 'dnsrelayd 1.3.0b22\nUsage: dnsrelayd -c main_config -s safe_config [-d]\n') ||
  fail "usage text differs"

cat >"$work/main.conf" <<CONF
# upstream servers
dns_server = 192.0.2.1
dns_server = 192.0.2.2:5353 corp.example
stat_file = $stats
stat_time = 100
static_a = router.lan 192.168.1.1
CONF

start() {
  "$daemon" -c "$work/main.conf" -s /var/dnsrelaydsafe.conf -p "$pidfile" -d 2>>"$work/log" &
  pid=$!
  on_exit quiet_kill "$pid"
}

log "start with both files"
start
wait_file "$pidfile"
[ "$(cat "$pidfile")" = "$pid" ] || fail "pid file holds $(cat "$pidfile"), not $pid"
for proto in udp tcp; do wait_port "$proto" 53; done
ss -Hlun 'sport = :53' | grep -q '0.0.0.0:53' || fail "no UDP IPv4 listener"
ss -Hlun 'sport = :53' | grep -q '\[::\]:53' || fail "no UDP IPv6 listener"
ss -Hltn 'sport = :53' | grep -q '0.0.0.0:53' || fail "no TCP IPv4 listener"
ss -Hltn 'sport = :53' | grep -q '\[::\]:53' || fail "no TCP IPv6 listener"

# A real DNS client reaches the proxy on both families and both transports:
# the static record answers.
for target in 127.0.0.1 ::1; do
  [ "$(dig @"$target" +short +tries=1 +time=2 router.lan A)" = 192.168.1.1 ] ||
    fail "no static answer over UDP from $target"
done
[ "$(kdig @127.0.0.1 +tcp +short +timeout=2 +retry=0 router.lan A)" = 192.168.1.1 ] ||
  fail "no static answer over TCP"
ss -Hltn 'sport = :53' | grep -q '0.0.0.0:53' || fail "TCP listener gone after a client"

log "statistics file lists the servers of both files"
wait_file "$stats"
grep -q '^# dnsrelayd statistics file$' "$stats" || fail "statistics header missing"
for a in 192.0.2.1 192.0.2.2 198.51.100.14 198.51.100.15 198.51.100.24; do
  grep -Eq "^ +$a +0 +0 +0 +0ms +0ms +1  \$" "$stats" || fail "server $a missing from the statistics: $(cat "$stats")"
done
[ "$(grep -c 'ms  ' "$stats")" -eq 5 ] || fail "statistics file lists other servers: $(cat "$stats")"

log "SIGURG: changed files take effect"
sed -i 's/^dns_server = 192.0.2.1$/dns_server = 203.0.113.7/' "$work/main.conf"
echo "profile-set-server 2 198.51.100.99:53" >>/var/dnsrelaydsafe.conf
kill -URG "$pid"
reloaded() { grep -q ' 203\.0\.113\.7 ' "$stats" 2>/dev/null && grep -q ' 198\.51\.100\.99 ' "$stats"; }
wait_until 10 reloaded || fail "reload did not take effect: $(cat "$stats")"
! grep -q ' 192\.0\.2\.1 ' "$stats" || fail "a removed server is still listed"
# A reload starts the counters and ranks again.
grep -q '^Total incoming requests: 0$' "$stats" || fail "counters not reset on reload"
for a in 203.0.113.7 192.0.2.2 198.51.100.14 198.51.100.15 198.51.100.24 198.51.100.99; do
  grep -Eq "^ +$a +0 +0 +0 +0ms +0ms +1  \$" "$stats" || fail "server $a not at its start values: $(cat "$stats")"
done
grep -q 'updating configuration' "$work/log" || fail "no reload in the log"
kill -0 "$pid" || fail "the proxy died on SIGURG"
ss -Hlun 'sport = :53' | grep -q '0.0.0.0:53' || fail "listeners lost on reload"

log "SIGTERM: clean stop"
kill -TERM "$pid"
set +e
wait "$pid"
status=$?
set -e
[ $status -eq 0 ] || fail "SIGTERM gave status $status"
[ ! -e "$pidfile" ] || fail "pid file left behind"
grep -q 'dnsrelayd stopped' "$work/log" || fail "no stop line in the log"
! ss -Hlun 'sport = :53' | grep -q . || fail "sockets left open"

log "rpc_only: no DNS listeners, only the text query port"
cat >"$work/main.conf" <<CONF
rpc_only = true
rpc_port = 5300
CONF
start
wait_port udp 5300
! ss -Hlun 'sport = :53' | grep -q . || fail "rpc_only still listens on UDP 53"
! ss -Hltn 'sport = :53' | grep -q . || fail "rpc_only still listens on TCP 53"
kill -TERM "$pid"
wait "$pid" || fail "rpc_only run did not stop cleanly"

log "a port in use is a failure, not a clean stop"
cat >"$work/main.conf" <<CONF
dns_udp_port = 5301
CONF
socat -u UDP4-RECV:5301 - >/dev/null &
on_exit quiet_kill "$!"
wait_port udp 5301
set +e
timeout 10 "$daemon" -c "$work/main.conf" 2>>"$work/log"
status=$?
set -e
[ $status -eq 1 ] || fail "a taken port gave status $status"
log "ok"
