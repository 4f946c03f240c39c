#!/usr/bin/env bash
# An off-path host floods the proxy with forged answers (every id, the
# upstream's address as source) while the real upstream takes 5 s. With the
# test switch pinning every upstream query to one known port the forgery is
# planted: the scenario can fail. As built, the same flood to ten guessed
# ports is not.
set -euo pipefail
. "$FW_SOURCE_DIR/tests/harness/lib.sh"
require_scenario_ns
daemon=$1
. "$(dirname "$0")/lib_dns.sh"

ns_add_host up 10.0.1.2/24 10.0.1.1/24
ns_add_host evil 10.0.2.2/24 10.0.2.1/24
ip -n evil route add 10.0.1.0/24 via 10.0.2.1
# Forged sources arrive on the attacker's link: no reverse-path filter here,
# as on many a router's LAN side.
for c in all default "$(ns_if evil)"; do sysctl -qw "net.ipv4.conf.$c.rp_filter=0"; done
: >"$work/peers.log"
ns_exec up /usr/bin/python3 "$here/upstream_peer.py" "$work/peers.log" 10.0.1.2:53:slow5 >"$work/peers.out" 2>&1 &
on_exit quiet_kill "$!"
disown "$!"
wait_file "$work/peers.out"
# A million answers for no pending id: no debug line for each.
proxy_debug=
conf="$work/main.conf"
cat >"$conf" <<CONF
dns_server = 10.0.1.2:53
timeout = 8000
CONF

# attack NAME PORT...: the client asks for NAME, the forger floods PORTs;
# prints what the client got.
attack() {
  local name=$1
  shift
  dig @127.0.0.1 +short +tries=1 +time=9 "$name" A >"$work/dig.out" 2>&1 &
  local dig_pid=$!
  wait_line "$work/peers.log" "$name" 5 # the try is out: the forger's moment
  ns_exec evil /usr/bin/python3 "$here/forge_answers.py" 10.0.1.2 53 10.0.1.1 "$name" 4 "$@" >>"$work/forge.out" 2>&1
  wait "$dig_pid" || true
  cat "$work/dig.out"
}

log "pinned to port 40000: the forged answer is planted"
DNSRELAYD_TEST_UPSTREAM_PORT=40000 start_proxy "$daemon" "$conf"
# Not planted here, the scenario could not tell a sound proxy from a blind one.
expect "pinned port: the client's answer" "$(attack q1.spoof.test 40000)" 6.6.6.6
expect "pinned port: the cached answer" "$(ask q1.spoof.test A)" 6.6.6.6
kill -TERM "$proxy_pid"
wait "$proxy_pid" || fail "unclean stop"
rm -f /var/run/dnsrelayd.pid

log "as built: the same flood to ten guessed ports plants nothing"
start_proxy "$daemon" "$conf"
read -r low high </proc/sys/net/ipv4/ip_local_port_range
range=$((high - low + 1))
# The query leaves from one port of the range: ten guesses hit it with a
# chance of 10 in $range (below 1 in 2000 for any range over 20000 ports).
[ $range -gt 20000 ] || fail "ephemeral range of only $range ports"
ports=$(shuf -i "$low-$high" -n 10 | tr '\n' ' ')
# shellcheck disable=SC2086
expect "ten guessed ports (a lucky hit: 10 in $range): the client's answer" "$(attack q2.spoof.test $ports)" 192.0.2.80
expect "ten guessed ports: the cached answer" "$(ask q2.spoof.test A)" 192.0.2.80
log "forger: $(tr '\n' ';' <"$work/forge.out"); odds of a lucky hit 10 in $range"

kill -0 "$proxy_pid" || fail "the proxy died"
kill -TERM "$proxy_pid"
wait "$proxy_pid" || fail "unclean stop"
if grep -Eq 'AddressSanitizer|runtime error' "$work/proxy.log"; then fail "sanitizer report"; fi
log "ok"
