#!/usr/bin/env bash
# zmocore DNSRELAYD PLUGIN: the AdGuard DNS plug-in with the real proxy.
# The service's four resolver addresses sit on this namespace's loopback
# with fake resolvers behind them; two client hosts (a "family" one and a
# "default" one, known by their MACs) ask the proxy over veth pairs.
set -euo pipefail
zmocore=$1 dnsrelayd=$2 plugin=$3
. "$FW_SOURCE_DIR/tests/harness/lib.sh"
require_scenario_ns
peer_py=$FW_SOURCE_DIR/tests/e2e/dnsproxy/upstream_peer.py
work=$(mktemp -d)
safe=/var/dnsrelaydsafe.conf
standard=(94.140.14.14 94.140.15.15)
family=(94.140.14.15 94.140.15.16)
for a in "${standard[@]}" "${family[@]}"; do ip addr add "$a/32" dev lo; done

ns_add_host family 10.0.1.2/24 10.0.1.1/24
ns_add_host plain 10.0.2.2/24 10.0.2.1/24
fam_mac=$(ns_mac family)
plain_mac=$(ns_mac plain)

# resolvers PORT: the fakes (standard "good", family "safe") on PORT only.
resolvers_pid=
resolvers() {
  [ -z "$resolvers_pid" ] || { kill "$resolvers_pid"; wait "$resolvers_pid" 2>/dev/null || true; }
  : >"$work/peers.log"
  UPSTREAM_PEER_UDP_ONLY=1 /usr/bin/python3 "$peer_py" "$work/peers.log" "${standard[0]}:$1:good" "${standard[1]}:$1:good" \
    "${family[0]}:$1:safe" "${family[1]}:$1:safe" >"$work/peers.out" 2>&1 &
  resolvers_pid=$!
  on_exit quiet_kill "$resolvers_pid"
  wait_port udp "$1"
}
# The ordinary upstream of the proxy.
/usr/bin/python3 "$peer_py" "$work/upstream.log" 127.0.0.5:5300:fast >/dev/null 2>&1 &
on_exit quiet_kill "$!"
wait_port udp 5300
resolvers 53

echo "dns_server = 127.0.0.5:5300" >"$work/main.conf"
"$dnsrelayd" -c "$work/main.conf" -s "$safe" -p /var/run/dnsrelayd.pid -d 2>"$work/proxy.log" &
proxy=$!
on_exit quiet_kill "$proxy"
wait_until 10 test -s /var/run/dnsrelayd.pid || fail "the proxy did not start: $(cat "$work/proxy.log")"
wait_port udp 53
# Reloads of the proxy (SIGURG), and so reads of the safety file while it exists.
loads() { grep -c "updating configuration" "$work/proxy.log" || true; }
reloaded_since() { [ "$(loads)" -gt "$1" ]; }

. "$(dirname "$0")/lib_core.sh"
start_core "$zmocore" --plugin "$plugin"
chain() { ask "netfilter nat" && after_last "netfilter nat" | sed -n 's/^-A _ZMO_AG_REDIRECT //p'; }
client() { ns_exec "$1" dig @"$2" +short +tries=1 +time=3 "$3" A; }

log "enabled with two hosts: the safety file names port 53 and the proxy reads it"
ask "interface add id=Bridge0 name=$(ns_if family) ip=10.0.1.1/24 level=0"
ask "interface add id=Bridge1 name=$(ns_if plain) ip=10.0.2.1/24 level=2"
ask "event knownhost add mac=$fam_mac"
ask "event knownhost add mac=$plain_mac"
ask "event neighbour mac=$plain_mac ip=10.0.2.2"
ask "event wan id=Wan0"
ask "adguard-dns assign host $fam_mac type family"
ask "adguard-dns assign host $plain_mac type default"
before=$(loads)
ask "adguard-dns enable"
wait_until 10 reloaded_since "$before" || fail "the proxy did not reload: $(cat "$work/proxy.log")"
expect "safety file" "$(cat $safe)" "profile 1 safe-access
profile 2 safe-access
profile-set-server 1 94.140.14.14:53
profile-set-server 1 94.140.15.15:53
profile-set-server 2 94.140.14.15:53
profile-set-server 2 94.140.15.16:53
set-profile $fam_mac 2
set-profile $plain_mac 0
set-profile mac_default 1"
grep -q "DNS server: 94.140.15.16#53" "$work/proxy.log" || fail "the proxy did not read the family servers"
# The default host's two exceptions ahead of its interface's two redirects.
expect "chain" "$(chain)" "-i veth-family -p udp -m udp --dport 53 -j REDIRECT --to-ports 53
! -d 224.0.0.0/4 -i veth-family -p udp -m udp --dport 5353 -j REDIRECT --to-ports 53
-s 10.0.2.2/32 -i veth-plain -p udp -m udp --dport 53 -j RETURN
-s 10.0.2.2/32 ! -d 224.0.0.0/4 -i veth-plain -p udp -m udp --dport 5353 -j RETURN
-i veth-plain -p udp -m udp --dport 53 -j REDIRECT --to-ports 53
! -d 224.0.0.0/4 -i veth-plain -p udp -m udp --dport 5353 -j REDIRECT --to-ports 53"

log "each host reaches its own resolvers"
expect "family host" "$(client family 10.0.1.1 kids.example.test)" 192.0.2.81
grep -q "^safe kids.example.test. 1" "$work/peers.log" || fail "the family resolver was not asked: $(cat "$work/peers.log")"
expect "default host" "$(client plain 10.0.2.1 plain.example.test)" 192.0.2.80
grep -q "^fast plain.example.test. 1" "$work/upstream.log" || fail "the ordinary upstream was not asked"
grep -q "plain.example.test" "$work/peers.log" && fail "the default host went to the service"

log "three changes within the delay: one write, one reload"
before=$(loads)
ask "journal clear"
ask "adguard-dns assign type family"
ask "adguard-dns assign type standard"
ask "adguard-dns assign host $fam_mac type standard"
wait_until 10 reloaded_since "$before" || fail "no reload after the changes"
sleep 1
expect "reloads" "$(loads)" "$((before + 1))"
ask "journal file rename"
expect "writes" "$(after_last "journal file rename" | grep -c "^file rename $safe.__temp__ $safe$")" 1
grep -q "^set-profile $fam_mac 1$" $safe || fail "the last change is not in the file"

log "resolvers only on 5353: the file names 5353 and queries go there"
resolvers 5353
before=$(loads)
ask "adguard-dns assign host $fam_mac type family"
wait_until 15 reloaded_since "$before" || fail "no reload after the port change"
[ "$(grep -c ':5353$' $safe)" = 4 ] || fail "not all servers on 5353: $(cat $safe)"
grep -q ':53$' $safe && fail "port 53 left in the file"
expect "family host on 5353" "$(client family 10.0.1.1 late.example.test)" 192.0.2.81

log "disabling: no file, empty chain, proxy reloaded, lock freed"
before=$(loads)
ask "journal clear"
ask "no adguard-dns enable"
[ -e $safe ] && fail "the safety file stayed"
[ -e $safe.__temp__ ] && fail "a temporary file stayed"
expect "chain after disabling" "$(chain)" ""
wait_until 5 reloaded_since "$before" || fail "the proxy was not reloaded"
ask "journal service-lock"
after_last "journal service-lock" | grep -q "service-lock DNS released by AdGuard DNS" || fail "the lock is still held"
expect "default host after" "$(client family 10.0.1.1 after.example.test)" 192.0.2.80

kill -0 "$proxy" || fail "the proxy died"
stop_core
log ok
