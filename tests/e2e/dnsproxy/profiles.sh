#!/usr/bin/env bash
# Profiles and the text query port: two client hosts, one known by its MAC
# address (safe access with an option record), one by nothing (direct);
# local programs use the text port, other hosts are refused.
set -euo pipefail
. "$FW_SOURCE_DIR/tests/harness/lib.sh"
require_scenario_ns
daemon=$1
. "$(dirname "$0")/lib_dns.sh"

ns_add_host safe 10.0.1.2/24 10.0.1.1/24
ns_add_host plain 10.0.2.2/24 10.0.2.1/24
ns_add_host byip 10.0.3.2/24 10.0.3.1/24
safe_mac=$(ns_mac safe)

start_peers 127.0.0.5:5300:good 127.0.0.6:5300:safe 127.0.0.7:5300:delay
cat >"$work/main.conf" <<CONF
rpc_port = 6053
rpc_wait = 300
dns_server = 127.0.0.5:5300
CONF
# The safety file as the AdGuard DNS plug-in writes it, plus an option.
cat >"$work/safe.conf" <<CONF
profile 1 safe-access
profile-set-server 1 127.0.0.6:5300
profile-set-option 1 3735928559
set-profile $safe_mac 1
profile 2 safe-access
profile-set-server 2 127.0.0.6:5300
set-profile-ip 10.0.3.2 2
CONF
start_proxy "$daemon" "$work/main.conf" -s "$work/safe.conf"

client_ask() { ns_exec "$1" dig @"$2" +short +tries=1 +time=3 "$3" A; }

log "profiles: by MAC to the safe server with the option, by IP to the safe one, else direct"
# client  proxy address  name  answer  upstream  option record
while read -r host addr name want mode option; do
  got=$(client_ask "$host" "$addr" "$name")
  [ "$got" = "$want" ] || fail "$host: got '$got' for $name, want $want"
  grep -q "^$mode $name\. 1 $option udp\$" "$work/peers.log" ||
    fail "$host: $name did not reach $mode with option $option: $(cat "$work/peers.log")"
done <<'CASES'
safe 10.0.1.1 a.profile.test 192.0.2.81 safe deadbeef
plain 10.0.2.1 b.profile.test 192.0.2.80 good -
byip 10.0.3.1 c.profile.test 192.0.2.81 safe -
CASES
# The same name from two profiles: two cache entries, two upstreams.
[ "$(client_ask plain 10.0.2.1 a.profile.test)" = 192.0.2.80 ] || fail "the safe host's cache entry answered another profile"

log "text port: local programs get lines"
text() { printf '%s' "$1" | socat -t "${2:-1}" - UDP4:127.0.0.1:6053; }
[ "$(text 'resolv-conf A q.text.test')" = "q.text.test A 192.0.2.80" ] || fail "resolv-conf"
[ "$(text 'resolv-via 127.0.0.6:5300 a q2.text.test')" = "q2.text.test A 192.0.2.81" ] || fail "resolv-via"
[ "$(text 'resolv-conf TXT q3.text.test')" = "not resolved;" ] || fail "a name without TXT records"
# A slow answer: "poll ID;" first, the lines at the poll after it arrived.
first=$(text 'resolv-via 127.0.0.7:5300 A slow.text.test' 0.6)
[[ "$first" =~ ^poll\ ([0-9a-f]{8})\;$ ]] || fail "no poll line for a slow answer: '$first'"
id=${BASH_REMATCH[1]}
[[ "$(text "poll $id;")" =~ ^poll\ $id\;$ ]] || fail "an early poll did not say poll again"
sleep 1.6
[ "$(text "poll ${id^^}")" = "slow.text.test A 192.0.2.80" ] || fail "the poll after the answer"
[ "$(text "poll $id" 0.5)" = "" ] || fail "a second poll of a fetched id answered"
[ "$(text 'poll 0000beef;' 0.5)" = "" ] || fail "an unknown id answered"

log "text port: other hosts are refused"
out=$(ns_exec plain bash -c "printf 'resolv-conf A q.text.test' | socat -t 1 - UDP4:10.0.2.1:6053" || true)
[ -z "$out" ] || fail "a remote host got '$out'"
grep -q 'text query from 10.0.2.2 refused' "$work/proxy.log" || fail "no refusal logged"

kill -0 "$proxy_pid" || fail "the proxy died"
kill -TERM "$proxy_pid"
wait "$proxy_pid" || fail "unclean stop"
log "ok"
