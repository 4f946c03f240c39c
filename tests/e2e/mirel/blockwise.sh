#!/usr/bin/env bash
# Block-wise bodies between two endpoints in two namespaces through the
# seeded relay: 64 KiB and 1 MiB both ways, in clear and sealed, through
# loss with duplication and reordering, and with the announcement or the
# last block's acknowledgement lost. Every run ends byte-exact or as a
# visible failure (no answer), and the server's running transfers go back
# to 0.
#   blockwise.sh MIREL_NODE UDP_RELAY
# Runs under tests/harness/nsrun.
set -euo pipefail
node=$1 relay=$2
. "$FW_SOURCE_DIR/tests/harness/lib.sh"
require_scenario_ns
key_a=77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a
key_b=5dab087e624a8a4b79e17f8b83800ee66f3bb1292618b6fd1c2f8b27ff88e0eb
work=/tmp/blockwise
mkdir -p "$work"
export MIREL_NODE_FAST_EXPIRY=1

ns_add_host ha 10.9.1.2/24 10.9.1.1/24
ns_add_host hb 10.9.2.2/24 10.9.2.1/24
on_exit bash -c 'kill $(jobs -p) 2>/dev/null || true'
ns_exec hb "$node" serve 10.9.2.2 --key "$key_b" > "$work/server.out" 2> "$work/server.err" &
wait_port udp 5683 10 hb
relay_pid=
start_relay() {
  "$relay" --a 10.9.1.1:5683 --to-a 10.9.1.2:5683 --b 10.9.2.1:5683 --to-b 10.9.2.2:5683 \
    --log "$work/relay.log" "$@" &
  relay_pid=$!
  wait_file "$work/relay.log" 5
}
stop_relay() { kill "$relay_pid"; wait "$relay_pid" || true; rm -f "$work/relay.log"; }
ask() { ns_exec ha "$node" ask 10.9.1.2 10.9.1.1 --key "$key_a" "$@"; }

# run NAME SIZE post|get clear|sealed [relay options...]: byte-exact, or a
# visible failure when the relay loses anything; sets result to ok or
# failed and logs it.
result=
run() {
  local name=$1 size=$2 dir=$3 mode=$4 want got sec=()
  shift 4
  [ "$mode" = sealed ] && sec=(--secure)
  start_relay "$@"
  if [ "$dir" = post ]; then
    want="answer 2.04 (Changed) $("$node" pattern "$size")"
    got=$(ask "${sec[@]}" --timeout 40 --body-size "$size" post /blob) || true
  else
    want="answer 2.05 (Content) $("$node" pattern "$size")"
    got=$(ask "${sec[@]}" --timeout 40 get "/blob?n=$size") || true
  fi
  stop_relay
  if [ "$got" = "$want" ]; then
    result=ok
  elif [ "$got" = timeout ] && [ $# -gt 0 ]; then
    result=failed
  else
    fail "$name: '$got', want '$want'"
  fi
  log "$name $result"
}
transfers() {
  start_relay
  ask --timeout 5 get /transfers | sed -n 's/^answer 2.05 (Content) //p' || true
  stop_relay
}

log "clean: 64 KiB and 1 MiB both ways, in clear and sealed"
for size in 65536 1048576; do
  for dir in post get; do
    for mode in clear sealed; do
      run "$size-$dir-$mode" "$size" "$dir" "$mode"
      [ "$result" = ok ] || fail "$size $dir $mode failed without loss"
    done
  done
done
# A last acknowledgement still in the relay when it stopped is resent
# within a second; a transfer left over expires in 6 s with the fast clock.
settled() {
  for _ in $(seq 1 15); do
    n=$(transfers)
    [ "$n" = 0 ] && return 0
    sleep 1
  done
  return 1
}
settled || fail "transfers left after clean runs: $n"

log "loss with duplication and reordering"
for loss in 0.01 0.05 0.2; do
  for dir in post get; do
    for mode in clear sealed; do
      run "65536-$dir-$mode-loss$loss" 65536 "$dir" "$mode" \
        --seed 17 --drop "$loss" --dup 0.05 --reorder 0.05 --delay 1 --jitter 2
    done
  done
done
# Lost blocks go again on the measured round trip: a megabyte through loss
# takes about a second, not minutes.
for loss in 0.01 0.05 0.2; do
  for dir in post get; do
    run "1048576-$dir-loss$loss" 1048576 "$dir" clear --seed 5 --drop "$loss" --dup 0.05 \
      --reorder 0.05 --delay 1 --jitter 2
  done
done

log "targeted: the announcement lost, the last block's acknowledgement lost"
run announcement 65536 get clear --drop-nth ba:1
[ "$result" = ok ] || fail "the lost announcement stalled the transfer"
# GET, then one ACK per block: the 65th datagram a to b acknowledges the
# last block (the 66th after a handshake request).
run last-ack 65536 get clear --drop-nth ab:65
[ "$result" = ok ] || fail "the lost last acknowledgement failed the transfer"
run last-ack-sealed 65536 get sealed --drop-nth ab:66
[ "$result" = ok ] || fail "the lost last acknowledgement failed the sealed transfer"

# Stalled transfers expire (6 s with the fast idle clock), finished ones
# are gone already.
settled || fail "transfers left: $n"
log "block-wise bodies: all good"
