#!/usr/bin/env bash
# Sealed exchanges: two endpoints in two namespaces through the relay (also
# with the handshake answer lost and with loss and duplication), and an
# independent Python peer in both roles.
#   secure.sh MIREL_NODE UDP_RELAY
# Runs under tests/harness/nsrun.
set -euo pipefail
node=$1 relay=$2
here=$(cd "$(dirname "$0")" && pwd)
. "$FW_SOURCE_DIR/tests/harness/lib.sh"
require_scenario_ns
python3 -c 'import cryptography' 2>/dev/null || { echo "python3-cryptography missing: skipped"; exit 77; }
key_a=77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a
key_b=5dab087e624a8a4b79e17f8b83800ee66f3bb1292618b6fd1c2f8b27ff88e0eb
work=/tmp/secure
mkdir -p "$work"

ns_add_host ha 10.9.1.2/24 10.9.1.1/24
ns_add_host hb 10.9.2.2/24 10.9.2.1/24
on_exit bash -c 'kill $(jobs -p) 2>/dev/null || true'
ns_exec hb "$node" serve 10.9.2.2 --key "$key_b" > "$work/server.out" 2> "$work/server.err" &
wait_port udp 5683 10 hb
relay_pid=
start_relay() {
  local name=$1
  shift
  "$relay" --a 10.9.1.1:5683 --to-a 10.9.1.2:5683 --b 10.9.2.1:5683 --to-b 10.9.2.2:5683 \
    --log "$work/$name.log" "$@" &
  relay_pid=$!
  wait_file "$work/$name.log" 5
}
stop_relay() { kill "$relay_pid"; wait "$relay_pid" || true; }
ask() { ns_exec ha "$node" ask 10.9.1.2 10.9.1.1 --key "$key_a" --secure "$@"; }

log "handshake, sealed GET and POST through the relay"
start_relay clean
out=$(ask get /hello)
[ "$out" = "answer 2.05 (Content) hello" ] || fail "sealed GET: $out"
out=$(ask post /echo "a sealed body")
[ "$out" = "answer 2.04 (Changed) a sealed body" ] || fail "sealed POST: $out"
stop_relay
# Each run: handshake request, then the sealed request; nothing else.
[ "$(grep -c ' ab ' "$work/clean.log")" = 4 ] || fail "datagrams a to b: $(cat "$work/clean.log")"

log "the handshake answer lost"
start_relay lost-answer --drop-nth ba:1
out=$(ask post /cmd after-lost-answer)
[ "$out" = "answer 2.04 (Changed) ran after-lost-answer" ] || fail "after a lost answer: $out"
stop_relay
[ "$(grep -c '^run /cmd after-lost-answer$' "$work/server.out")" = 1 ] || fail "handler count"

log "sealed requests through loss, duplication and reordering"
start_relay lossy --seed 3 --drop 0.1 --dup 0.3 --reorder 0.2 --delay 5 --jitter 10
bodies=$(seq -f 's%g' 1 10)
out=$(ask --timeout 15 post /cmd $bodies) || fail "a sealed CON went unanswered: $out"
stop_relay
for b in $bodies; do
  [ "$(grep -c "^run /cmd $b\$" "$work/server.out")" = 1 ] || fail "handler for $b"
done

log "an independent Python peer as client"
"$node" serve 127.0.0.1 --key "$key_b" > "$work/local.out" 2>&1 &
wait_port udp 5683
out=$(timeout 20 python3 "$here/sec_peer.py" client 127.0.0.1 5683 "$key_a") || fail "python client: $out"
[ "$out" = "answer 2.04 sealed body from python
answer 2.05 hello" ] || fail "python client read: $out"

log "an independent Python peer as server"
ns_add_host hp 10.9.3.2/24 10.9.3.1/24
ns_exec hp python3 "$here/sec_peer.py" server 10.9.3.2 5683 "$key_b" 2 > "$work/py.out" 2>&1 &
py=$!
wait_file "$work/py.out" 10
out=$("$node" ask 10.9.3.1 10.9.3.2 --key "$key_a" --secure --timeout 5 post /py one two) ||
  fail "sealed requests to python: $out"
[ "$out" = "answer 2.05 (Content) py:one
answer 2.05 (Content) py:two" ] || fail "python server answered: $out"
wait "$py" || fail "python server: $(cat "$work/py.out")"
grep -qx 'request coaps://10.9.3.2/py one' "$work/py.out" || fail "python saw: $(cat "$work/py.out")"
log "sealed exchanges: all good"
