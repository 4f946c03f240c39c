#!/usr/bin/env bash
# A Debian CoAP client's request decodes, and it reads our encoded answer.
# Runs under tests/harness/nsrun: port 5683 is the scenario's own.
set -euo pipefail
samples=$1
. "$FW_SOURCE_DIR/tests/harness/lib.sh"
require_scenario_ns
command -v coap-client-notls >/dev/null || { echo "coap-client-notls missing: skipped"; exit 77; }

out=/tmp/served.txt
"$samples" serve 5683 "answer from mirel" > "$out" &
server=$!
on_exit bash -c "kill $server 2>/dev/null || true"
wait_line "$out" ready 5

got=$(timeout 10 coap-client-notls -m get -B 5 'coap://127.0.0.1/zmo/info?a=1&b=2') ||
  fail "coap-client-notls failed: $got"
[ "$got" = "answer from mirel" ] || fail "client read '$got'"
wait "$server" || fail "the request did not decode"
for want in 'CON 0.01 (Get) [id' 'Code 11: "zmo"' 'Code 11: "info"' 'Code 15: "a=1"' 'Code 15: "b=2"'; do
  grep -qF -- "$want" "$out" || fail "decoded request lacks $want: $(cat "$out")"
done
log "coap-client-notls and the library understood each other"
