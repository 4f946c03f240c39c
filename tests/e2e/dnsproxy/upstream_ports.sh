#!/usr/bin/env bash
# Where upstream queries come from: many source ports that keep changing,
# ids uniform over 16 bits and never shared by two tries pending at once.
set -euo pipefail
. "$FW_SOURCE_DIR/tests/harness/lib.sh"
require_scenario_ns
daemon=$1
. "$(dirname "$0")/lib_dns.sh"

start_peers 127.0.0.5:5300:good 127.0.0.6:5300:drop
conf="$work/main.conf"
cat >"$conf" <<CONF
dns_server = 127.0.0.5:5300
dns_server = 127.0.0.6:5300 drop.test
timeout = 3000
CONF
start_proxy "$daemon" "$conf"
ids="$work/peers.log.ids"

# flood PREFIX COUNT: COUNT new names, every one answered.
flood() {
  awk -v p="$1" -v n="$2" 'BEGIN { for (i = 0; i < n; i++) printf "%s%d.lan A\n", p, i }' >"$work/names.txt"
  dnsperf -s 127.0.0.1 -d "$work/names.txt" -n 1 -q 100 -t 3 >"$work/perf.out" 2>&1 || true
  local done
  done=$(awk '/Queries completed:/ { print $3 }' "$work/perf.out")
  [ "$done" = "$2" ] || fail "$1: $done of $2 answered: $(cat "$work/perf.out")"
}

log "1000 queries leave from at least 64 ports"
flood a 1000
[ "$(grep -c '^good ' "$ids")" = 1000 ] || fail "the upstream saw $(grep -c '^good ' "$ids") queries"
awk '$1 == "good" { print $3 }' "$ids" | sort -u >"$work/ports-a"
[ "$(wc -l <"$work/ports-a")" -ge 64 ] || fail "only $(wc -l <"$work/ports-a") source ports"

log "the next 10000 mostly from new ports"
flood b 10000
awk '$1 == "good" && NR > 1000 { print $3 }' "$ids" | sort -u >"$work/ports-b"
new=$(comm -13 "$work/ports-a" "$work/ports-b" | wc -l)
all=$(wc -l <"$work/ports-b")
[ $((new * 2)) -gt "$all" ] || fail "only $new of $all ports were new"
log "ports: $(wc -l <"$work/ports-a") in the first 1000 queries; $new of $all new in the next 10000"

log "100000 ids pass a chi-square test of uniformity"
flood c 100000
awk '$1 == "good" && NR > 11000 { print $2 }' "$ids" >"$work/ids-c"
/usr/bin/python3 - "$work/ids-c" <<'PY' || fail "ids are not uniform"
import math, sys
ids = [int(l) for l in open(sys.argv[1])]
assert len(ids) == 100000, len(ids)
def chi(bins, key):
    counts = [0] * bins
    for v in ids:
        counts[key(v)] += 1
    e = len(ids) / bins
    x = sum((c - e) ** 2 / e for c in counts)
    # Wilson-Hilferty: the value a uniform source passes once in a thousand.
    k = bins - 1
    crit = k * (1 - 2 / (9 * k) + 3.09 * math.sqrt(2 / (9 * k))) ** 3
    print("chi-square %d bins: %.1f (limit %.1f)" % (bins, x, crit))
    return x < crit
ok = chi(1024, lambda v: v >> 6) and chi(256, lambda v: v >> 8) and chi(256, lambda v: v & 0xFF)
sys.exit(0 if ok else 1)
PY

log "no id is drawn twice while its try is pending"
awk 'BEGIN { for (i = 0; i < 5000; i++) printf "d%d.drop.test A\n", i }' >"$work/names.txt"
dnsperf -s 127.0.0.1 -d "$work/names.txt" -n 1 -q 5000 -t 1 >"$work/perf.out" 2>&1 || true
all_seen() { [ "$(grep -c '^drop ' "$ids")" = 5000 ]; }
wait_until 5 all_seen || fail "the silent server saw $(grep -c '^drop ' "$ids") queries"
dups=$(awk '$1 == "drop" { print $2 }' "$ids" | sort | uniq -d | wc -l)
[ "$dups" = 0 ] || fail "$dups ids were used twice among 5000 pending tries"

kill -0 "$proxy_pid" || fail "the proxy died"
kill -TERM "$proxy_pid"
wait "$proxy_pid" || fail "unclean stop"
if grep -Eq 'AddressSanitizer|runtime error' "$work/proxy.log"; then fail "sanitizer report"; fi
log "ok"
