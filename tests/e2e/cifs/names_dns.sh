#!/usr/bin/env bash
# Names through the stack's DNS client, as a process of the stack sees them:
# dnsmasq on 192.168.19.2 (the hooks' fixed DNS server) behind a veth serves
# A, PTR and the controllers' SRV records of the host's domain (set in the
# scenario's UTS namespace); the controller cache keeps a success and, for
# 10 s, a failure; then a scripted server whose answers with another id or
# from another address must be ignored.
set -euo pipefail
probe=$1
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../harness/lib.sh"
require_scenario_ns
work=$(mktemp -d)

expect() { # expect WHAT GOT WANTED
  [ "$2" = "$3" ] || fail "$1: got [$2], wanted [$3]"
  log "$1: ok"
}

echo corp.lan > /proc/sys/kernel/domainname
ns_add_host dns 192.168.19.2/24 192.168.19.1/24

ip netns exec dns dnsmasq -k --no-resolv --no-hosts --bind-interfaces --listen-address=192.168.19.2 \
  --user=root --pid-file="$work/dnsmasq.pid" --log-queries --log-facility="$work/dnsmasq.log" \
  --host-record=dc1.corp.lan,192.168.19.10 \
  --host-record=files.corp.lan,192.168.19.20 \
  --host-record=multi.corp.lan,10.0.0.5 --host-record=multi.corp.lan,192.168.19.30 \
  --srv-host=_ldap._tcp.dc._msdcs.corp.lan,dc1.corp.lan,389 \
  --srv-host=_ldap._tcp.dc._msdcs.lonely.lan,ghost.lonely.lan,389 &
dnsmasq_pid=$!
on_exit kill "$dnsmasq_pid"
wait_port udp 53 10 dns

# The probe answers one line per command.
coproc PROBE { "$probe" 2>&1; }
on_exit kill "$PROBE_PID"
ask() { # ask COMMAND: the probe's answer
  echo "$1" >&"${PROBE[1]}"
  local line
  while IFS= read -r -t 30 line <&"${PROBE[0]}"; do
    case "$line" in "> "*) echo "${line#> }"; return 0 ;; esac
  done
  fail "no answer to $1"
}
srv_queries() { # srv_queries DOMAIN: SRV questions dnsmasq has seen for DOMAIN
  sleep 0.3
  grep -c "query\[SRV\] _ldap._tcp.dc._msdcs.$1 " "$work/dnsmasq.log" || true
}

expect "start in the daemon's mode" "$(ask 'init 4')" 0
ask 'exit 4' > /dev/null
expect "full start" "$(ask 'init 2')" 0
expect "identity" "$(ask identity)" "NAS CORP.LAN NAS -"

expect "A" "$(ask 'ip files.corp.lan')" 192.168.19.20
expect "a single label gets the domain" "$(ask 'ip files')" 192.168.19.20
expect "own network first" "$(ask 'ip multi.corp.lan')" "192.168.19.30 10.0.0.5"
expect "PTR" "$(ask 'name 192.168.19.20')" files.corp.lan
expect "unknown name" "$(ask 'ip nobody.corp.lan')" none

expect "controller" "$(ask 'dc corp.lan')" dc1.corp.lan
expect "own controller" "$(ask owndc)" "dc1.corp.lan CORP.LAN"
expect "controller without an address" "$(ask 'dc lonely.lan')" "fail 0xff03eb"
expect "questions for it" "$(srv_queries lonely.lan)" 1
expect "failure kept" "$(ask 'dc lonely.lan')" "fail 0xff03eb"
expect "no new question within 10 s" "$(srv_queries lonely.lan)" 1
# The resolver's clock, not the scenario, waits the 10 s out.
ask 'later 11' > /dev/null
ask 'dc lonely.lan' > /dev/null
expect "asked again after 10 s" "$(srv_queries lonely.lan)" 2

kill "$dnsmasq_pid"
wait "$dnsmasq_pid" 2>/dev/null || true
ns_exec dns ss -Hlun "sport = :53" | grep -q . && fail "dnsmasq still runs"
expect "success kept while the server is gone" "$(ask 'dc corp.lan')" dc1.corp.lan

# ---- a scripted server: only its own answer with the query's id counts ------
ip -n dns addr add 192.168.19.3/24 dev eth0
ip netns exec dns python3 "$here/dns_peer.py" dns 192.168.19.2 192.168.19.3 > "$work/peer.log" 2>&1 &
on_exit kill $!
wait_port udp 53 10 dns
expect "answers with another id or from another address ignored" "$(ask 'ip spoofed.corp.lan')" 10.0.0.42
expect "nothing but forged answers" "$(ask 'ip forged.corp.lan')" none
expect "an answer whose name points at itself" "$(ask 'ip loop.corp.lan')" none
expect "an answer cut short" "$(ask 'ip cut.corp.lan')" 10.0.0.1
expect "A data of 2 bytes" "$(ask 'ip tiny.corp.lan')" none
expect "still answering after them" "$(ask 'ip spoofed-again.corp.lan')" 10.0.0.42
grep -q "query 1 forged.corp.lan" "$work/peer.log" || fail "the scripted server was not asked: $(cat "$work/peer.log")"

expect "stop" "$(ask 'exit 2')" 0
echo PASS
