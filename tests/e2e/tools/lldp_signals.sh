#!/usr/bin/env bash
# SIGTERM ends lldpsend in its minute's sleep and lldprecv in its poll at
# once with status 0; after the drop each runs with the user's ids and no
# supplementary group; start-up failures exit 1.
set -euo pipefail
. "$(dirname "$0")/../../harness/lib.sh"
. "$(dirname "$0")/lib_lldp.sh"
require_scenario_ns
lldpsend=$1 lldprecv=$2

add_user lldptest 4711
mkdir -p /tmp/run
ns_add_host peer 10.74.0.2/24 10.74.0.1/24
mac=$(ns_mac - veth-peer)
idx=$(cat /sys/class/net/veth-peer/ifindex)

# check_dropped PID NAME: the ids of the user and no groups besides.
check_dropped() {
  local pid=$1 name=$2 status
  wait_dropped "$pid" 4711
  status=$(cat "/proc/$pid/status")
  grep -qP '^Uid:\t4711\t4711\t4711\t4711$' <<< "$status" || fail "$name uid: $(grep Uid <<< "$status")"
  grep -qP '^Gid:\t4711\t4711\t4711\t4711$' <<< "$status" || fail "$name gid: $(grep Gid <<< "$status")"
  grep -qP '^Groups:\s*$' <<< "$status" || fail "$name kept groups: $(grep Groups <<< "$status")"
}

# stop PID NAME: SIGTERM, then status 0 within a second.
stop() {
  local pid=$1 name=$2 started took status=0
  started=$(date +%s%N)
  kill -TERM "$pid"
  wait "$pid" || status=$?
  took=$(( ($(date +%s%N) - started) / 1000000 ))
  [ "$status" = 0 ] || fail "$name ended with status $status"
  [ "$took" -lt 1000 ] || fail "$name took $took ms to stop"
  log "$name stopped in $took ms"
}

log "lldpsend"
# Root with supplementary groups, as a service manager may leave it.
setpriv --groups 4,20,27 -- "$lldpsend" -u lldptest -M "$mac" -I veth-peer -x "$idx" &
sender=$!
check_dropped "$sender" lldpsend
sleep 0.3 # into the sleep after the first frame
stop "$sender" lldpsend

log "lldprecv"
ip netns exec peer setpriv --groups 4,20,27 -- "$lldprecv" -u lldptest &
receiver=$!
check_dropped "$receiver" lldprecv
sleep 0.3
stop "$receiver" lldprecv

log "start-up failures exit 1"
expect_status() { # WANT CMD...
  local want=$1 got=0
  shift
  timeout 5 "$@" > /dev/null 2>&1 || got=$?
  [ "$got" = "$want" ] || fail "$*: status $got, not $want"
}
expect_status 1 "$lldpsend" -u nosuchuser -M "$mac" -I veth-peer -x "$idx"
expect_status 1 "$lldpsend" -u lldptest -M "$mac" -I veth-peer -x 9999
expect_status 1 "$lldpsend" -M 02:00:00:00:00
expect_status 1 "$lldpsend" -x 3x
expect_status 1 "$lldpsend" -P 70000
expect_status 1 "$lldpsend" -A 300.1.1.1
expect_status 1 "$lldpsend" -q
expect_status 1 "$lldprecv" -u nosuchuser
expect_status 1 "$lldprecv" -q
# A user whose group of the same name is missing.
echo "halfuser:x:4712:4711::/nonexistent:/usr/sbin/nologin" >> /etc/passwd
expect_status 1 "$lldprecv" -u halfuser
echo PASS
