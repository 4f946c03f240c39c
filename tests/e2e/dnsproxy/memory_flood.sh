#!/usr/bin/env bash
# A flood of distinct names at a small max_mem (64K, then 256K), nsd behind
# the proxy: every query is answered or refused, the accounted memory stays
# under the limit, the resident set within the limit plus a fixed overhead,
# garbage and cut datagrams change nothing, and the sanitizers have nothing
# to say.
set -euo pipefail
. "$FW_SOURCE_DIR/tests/harness/lib.sh"
require_scenario_ns
daemon=$1
. "$(dirname "$0")/lib_dns.sh"

start_nsd 127.0.0.2 5353
# nsd's wildcard answers every name; a fresh set per run.
names() { awk -v p="$1" 'BEGIN { for (i = 0; i < 10000; i++) printf "%s%d.wild.example.test A\n", p, i }'; }
rss_kib() { awk '/^VmRSS:/ { print $2 }' "/proc/$1/status"; }
# ASan keeps freed blocks aside for a while; a small quarantine keeps that
# part of the fixed overhead small too.
export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}quarantine_size_mb=8

for limit in 64K 256K; do
  log "max_mem = $limit: 10000 distinct names"
  conf="$work/main-$limit.conf"
  cat >"$conf" <<CONF
dns_server = 127.0.0.2:5353
max_mem = $limit
stat_file = /var/run/dnsrelayd.stats
stat_time = 100
CONF
  : >"$work/proxy.log"
  "$daemon" -c "$conf" -p /var/run/dnsrelayd.pid ${DNS_E2E_DEBUG:+-d} 2>>"$work/proxy.log" &
  proxy_pid=$!
  on_exit quiet_kill "$proxy_pid"
  wait_file /var/run/dnsrelayd.pid
  wait_port udp 53
  sleep 0.3
  idle=$(rss_kib "$proxy_pid")
  names "n$limit-" >"$work/names.txt"
  dnsperf -s 127.0.0.1 -d "$work/names.txt" -n 1 -q 50 -t 2 >"$work/perf.out" 2>&1 &
  perf_pid=$!
  peak=$idle
  while kill -0 "$perf_pid" 2>/dev/null; do
    r=$(rss_kib "$proxy_pid") || fail "the proxy died: $(tail -5 "$work/proxy.log")"
    [ "$r" -gt "$peak" ] && peak=$r
    sleep 0.1
  done
  wait "$perf_pid" || true
  completed=$(awk '/Queries completed:/ { print $3 }' "$work/perf.out")
  lost=$(awk '/Queries lost:/ { print $3 }' "$work/perf.out")
  [ "$completed" = 10000 ] && [ "$lost" = 0 ] || fail "$limit: completed $completed, lost $lost: $(cat "$work/perf.out")"
  grep -q 'NOERROR' "$work/perf.out" || fail "$limit: nothing answered"
  # The accountant's own figure, from the statistics file.
  sleep 0.3
  used=$(sed -n 's/^Memory usage: *\([0-9.]*\)K of \([0-9.]*\)K$/\1 \2/p' /var/run/dnsrelayd.stats)
  awk -v u="$used" 'BEGIN { split(u, v, " "); exit !(v[1] <= v[2]) }' || fail "$limit: accounted memory $used"
  limit_kib=${limit%K}
  # Fixed overhead: ASan's shadow and quarantine, the allocator's caches.
  [ $((peak - idle)) -le $((limit_kib + 16384)) ] || fail "$limit: RSS $idle -> $peak KiB"
  log "$limit: $(grep -E 'NOERROR|REFUSED' "$work/perf.out" | tr -s ' ' | tr '\n' ' ') RSS $idle -> $peak KiB, accounted $used"
  if [ "$limit" = 64K ]; then
    log "$limit: 20000 datagrams of garbage and cut queries, then a real query"
    /usr/bin/python3 - <<'PY'
import os, random, socket, struct
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
q = struct.pack("!HHHHHH", 1, 0x0100, 1, 0, 0, 1) + b"\x03www\x07example\x04test\x00" + struct.pack("!HH", 1, 1)
for i in range(20000):
    if i % 2:
        d = os.urandom(random.randrange(0, 600))
    else:
        d = q[:random.randrange(0, len(q) + 1)]  # cut anywhere, header included
    s.sendto(d, ("127.0.0.1", 53))
PY
    # Junk that parses as a query goes upstream and may hold memory until
    # its try fails (at most the timeout, 3 s): REFUSED meanwhile is fine.
    answered() { [ "$(ask www.example.test A)" = 192.0.2.10 ]; }
    wait_until 5 answered || fail "$limit: no answer 5 s after the garbage"
  fi
  kill -0 "$proxy_pid" || fail "the proxy died"
  kill -TERM "$proxy_pid"
  wait "$proxy_pid" || fail "$limit: unclean stop: $(tail -5 "$work/proxy.log")"
  if grep -Eq 'AddressSanitizer|LeakSanitizer|runtime error' "$work/proxy.log"; then
    fail "$limit: sanitizer report: $(grep -E -m3 'Sanitizer|runtime error' "$work/proxy.log")"
  fi
  rm -f /var/run/dnsrelayd.pid
done
log "ok"
