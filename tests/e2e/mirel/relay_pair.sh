#!/usr/bin/env bash
# Two endpoints in two namespaces, joined through the seeded UDP relay of
# the scenario namespace: CON and NON through loss, duplication and
# reordering with each handler run once, retransmission at the pool's times,
# forged answers ignored.
#   relay_pair.sh MIREL_NODE UDP_RELAY
# Runs under tests/harness/nsrun.
set -euo pipefail
node=$1 relay=$2
. "$FW_SOURCE_DIR/tests/harness/lib.sh"
require_scenario_ns

# ha (client) 10.9.1.2 -- relay 10.9.1.1 | 10.9.2.1 -- hb (server) 10.9.2.2
ns_add_host ha 10.9.1.2/24 10.9.1.1/24
ns_add_host hb 10.9.2.2/24 10.9.2.1/24
work=/tmp/relay_pair
mkdir -p "$work"

ns_exec hb "$node" serve 10.9.2.2 > "$work/server.out" 2> "$work/server.err" &
on_exit kill $!
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
stop_relay() {
  kill "$relay_pid"
  wait "$relay_pid" || true
}
on_exit bash -c 'kill $(jobs -p) 2>/dev/null || true'
ask() { ns_exec ha "$node" ask 10.9.1.2 10.9.1.1 "$@"; }
runs() { grep -c "^run /cmd $1\$" "$work/server.out" || true; }

log "clean path: CON and NON"
start_relay clean
got=$(ask get /hello)
[ "$got" = "answer 2.05 (Content) hello" ] || fail "CON GET: $got"
# A NON request is answered with an ACK, which no pending request takes:
# only the handler's run shows it arrived.
ask --non --timeout 0.3 post /cmd n0 > /dev/null || true
stop_relay
[ "$(runs n0)" = 1 ] || fail "NON handler ran $(runs n0) times"

log "loss, duplication and reordering: every handler once"
start_relay lossy --seed 7 --drop 0.1 --dup 0.3 --reorder 0.2 --delay 5 --jitter 10
bodies=$(seq -f 'c%g' 1 20)
out=$(ask --timeout 15 post /cmd $bodies) || fail "a CON went unanswered: $out"
for b in $bodies; do
  [ "$(runs "$b")" = 1 ] || fail "handler for $b ran $(runs "$b") times"
  grep -qx "answer 2.04 (Changed) ran $b" <<< "$out" || fail "no answer for $b: $out"
done
stop_relay
grep -q ' drop$' "$work/lossy.log" || fail "the relay dropped nothing: the run proves little"
grep -q ' dup$' "$work/lossy.log" || fail "the relay duplicated nothing"
nbodies=$(seq -f 'n%g' 1 10)
start_relay lossy-non --seed 11 --dup 0.5 --reorder 0.3 --delay 5 --jitter 10
ask --non --timeout 0.2 post /cmd $nbodies > /dev/null || true
stop_relay
for b in $nbodies; do
  [ "$(runs "$b")" -le 1 ] || fail "NON handler for $b ran $(runs "$b") times"
done
[ "$(grep -c '^run /cmd n' "$work/server.out")" -ge 5 ] || fail "too few NON requests arrived"

log "retransmission at 3 s and 6 s"
start_relay retransmit --drop-nth ab:1,2
got=$(ask post /cmd r1)
[ "$got" = "answer 2.04 (Changed) ran r1" ] || fail "third transmission not answered: $got"
stop_relay
mapfile -t t < <(awk '$2 == "ab" { print $1 }' "$work/retransmit.log")
[ "${#t[@]}" = 3 ] || fail "want 3 transmissions, relay saw ${#t[@]}: $(cat "$work/retransmit.log")"
for gap in $((t[1] - t[0])) $((t[2] - t[1])); do
  [ "$gap" -ge 2900 ] && [ "$gap" -le 3400 ] || fail "retransmission after $gap ms, not 3000"
done
[ "$(runs r1)" = 1 ] || fail "r1 ran $(runs r1) times"

log "forged answers: other token from the peer, right token from another port"
start_relay forged --forge-coap --delay 50
got=$(ask get /hello)
[ "$got" = "answer 2.05 (Content) hello" ] || fail "a forged answer was taken: $got"
got=$(ask post /cmd f1)
[ "$got" = "answer 2.04 (Changed) ran f1" ] || fail "a forged answer was taken: $got"
stop_relay
[ "$(grep -c ' forge$' "$work/forged.log")" -ge 2 ] || fail "nothing was forged"
log "two endpoints through the relay: all good"
