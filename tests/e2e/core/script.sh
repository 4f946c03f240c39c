#!/usr/bin/env bash
# zmocore SCRIPT: the toy plug-in's daemon (words with ";" and blanks, up by
# its pid file, reloaded by SIGHUP, stopped by SIGTERM), a modem interface
# fed by its feedback forwarder, and the resolver against dnsmasq on an
# address of this namespace.
set -euo pipefail
zmocore=$1 toy=$2 child=$3
. "$FW_SOURCE_DIR/tests/harness/lib.sh"
require_scenario_ns

work=$(mktemp -d)
mkfifo "$work/in"
"$zmocore" --plugin "$toy" --script - <"$work/in" >"$work/out" 2>"$work/err" &
core=$!
exec 3>"$work/in"
on_exit bash -c "kill $core 2>/dev/null || true"
say() { echo "$*" >&3; }
# expect TEXT: until the core's output shows TEXT.
expect() {
  local deadline=$((SECONDS + 10))
  until grep -qF -- "$1" "$work/out"; do
    [ $SECONDS -lt $deadline ] || { cat "$work/out" "$work/err" >&2; fail "no \"$1\" in the output"; }
    sleep 0.05
  done
}

log "a daemon by argument vector, up by its pid file"
say "toy daemon $child hup"
say 'wait service "Toy daemon" up 5s'
expect "service Toy daemon up"
pid=$(cat /var/run/toy.pid)
[ "$(tr '\0' ' ' </proc/$pid/cmdline)" = "$child hup /var/run/toy.pid /tmp/toy log; x " ] || fail "argv: $(tr '\0' '|' </proc/$pid/cmdline)"
say "toy reload"
expect "[0x00770032] reloaded"
wait_file "/tmp/toy log; x"
say "no toy daemon"
expect "[0x00770031] daemon stopped"
[ "$(cat "/tmp/toy log; x")" = "$(printf 'reload\nterm')" ] || fail "the daemon saw: $(cat "/tmp/toy log; x")"
kill -0 "$pid" 2>/dev/null && fail "the daemon still runs"
say "journal log"
expect "log 0 Toy::Component: service Toy daemon down"

log "a modem interface and its forwarder"
say "event usb add subsystem=usb_device VENDOR=1234 MODEL=5678 DEVICE=/devices/usb1/1-1/1/3"
wait_file /var/run/toymodem-toy0
printf 'RSSI=-61\nRSSI2=x\nevil\nSTATE=1\n' | /var/run/toymodem-toy0 stats toy0
/var/run/toymodem-toy0 if-up toy0 </dev/null
say 'wait journal "event IfStateChanged" 5s'
say "interface show ToyModem0"
expect "<rssi>-61</rssi>"
expect "<link>1</link>"

log "the resolver asks only addresses of this namespace"
ip addr add 94.140.14.14/32 dev lo
dnsmasq --no-resolv --no-hosts --bind-interfaces --listen-address=94.140.14.14 --port=53 \
  --address=/check.example/192.0.2.53 --pid-file="$work/dnsmasq.pid" -k &
on_exit kill $!
wait_port udp 53
say "resolve check.example 94.140.14.14"
expect "[0x0fff0000] 192.0.2.53"
# With a way out to a second host, a query for an outside server would
# leave through the veth: the capture there stays empty.
ns_add_host peer 10.9.0.2/24 10.9.0.1/24
ip route add default via 10.9.0.2
tcpdump -i "$(ns_if peer)" -n -U -w "$work/out.pcap" udp port 53 2>"$work/tcpdump.err" &
dump=$!
on_exit kill "$dump"
until grep -q "listening on" "$work/tcpdump.err"; do sleep 0.05; done
say "resolve check.example 8.8.8.8"
expect "[0x80ff0050]"
sleep 0.3
kill "$dump"
wait "$dump" || true
[ "$(tcpdump -r "$work/out.pcap" -n 2>/dev/null | wc -l)" = 0 ] || fail "a query left: $(tcpdump -r "$work/out.pcap" -n 2>/dev/null)"

say "quit"
exec 3>&-
wait "$core" || fail "a line failed: $(grep '^%' "$work/out")"
grep -q "dns resolve check.example @8.8.8.8:53 refused" <("$zmocore" --plugin "$toy" --journal --script - <<<"resolve check.example 8.8.8.8") ||
  fail "refusal not journaled"
log "ok"
