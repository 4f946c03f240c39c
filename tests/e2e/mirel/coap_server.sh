#!/usr/bin/env bash
# A Debian CoAP server answers our encoded requests; its answers decode.
# Runs under tests/harness/nsrun: the server binds 5683 in the scenario's own namespace.
set -euo pipefail
samples=$1
. "$FW_SOURCE_DIR/tests/harness/lib.sh"
require_scenario_ns
command -v coap-server-notls >/dev/null || { echo "coap-server-notls missing: skipped"; exit 77; }

coap-server-notls -A 127.0.0.1 -p 5683 &
server=$!
on_exit kill "$server"
wait_port udp 5683

# check_answer PATH LINE: the answer to a GET of PATH has LINE and our token.
check_answer() {
  local path=$1 want=$2 got
  got=$("$samples" ask 127.0.0.1 5683 "$path") || fail "no decodable answer for $path"
  # A here-string, not a pipe: grep -q leaving early must not fail the writer under pipefail.
  grep -qxF -- "$want" <<< "$got" || fail "answer for $path lacks '$want': $got"
  grep -qxF 'Token: de ad be ef ' <<< "$got" || fail "token not echoed for $path: $got"
}
# Link format (Content-Format 40) listing the server's resources.
check_answer /.well-known/core 'ACK 2.05 (Content) [id16962]'
check_answer /.well-known/core 'Code 12: "("'
check_answer /time 'ACK 2.05 (Content) [id16962]'
check_answer /no/such/path 'ACK 4.04 (Not Found) [id16962]'
log "coap-server-notls answered every request"
