#!/usr/bin/env bash
# The endpoint with Debian's CoAP tools: coap-client-notls asks our server,
# our client asks coap-server-notls. Plain CON requests only: the protocol's
# own odd-numbered options are critical to standard peers.
#   peers.sh MIREL_NODE
# Runs under tests/harness/nsrun.
set -euo pipefail
node=$1
. "$FW_SOURCE_DIR/tests/harness/lib.sh"
require_scenario_ns
for t in coap-client-notls coap-server-notls; do
  command -v $t >/dev/null || { echo "$t missing: skipped"; exit 77; }
done
work=/tmp/peers
mkdir -p "$work"

log "coap-client-notls asks the endpoint"
"$node" serve 127.0.0.1 > "$work/server.out" 2> "$work/server.err" &
server=$!
on_exit kill "$server"
wait_port udp 5683
client() { timeout 10 coap-client-notls -B 3 "$@" 2>&1; }
expect() {
  local want=$1 got
  shift
  got=$(client "$@") || fail "coap-client-notls $*: exit $?"
  [ "$got" = "$want" ] || fail "coap-client-notls $*: '$got', want '$want'"
}
expect '</transfers>,</blob>,</gone>,</cmd>,</echo>,</hello>' -m get coap://127.0.0.1/.well-known/core
expect 'hello' -m get coap://127.0.0.1/hello
expect 'a body that comes back' -m post -e 'a body that comes back' coap://127.0.0.1/echo
expect '4.04' -m get coap://127.0.0.1/nothing/here
expect '4.05' -m post -e x coap://127.0.0.1/hello
expect 'ran once' -m post -e once coap://127.0.0.1/cmd
[ "$(grep -c '^run /cmd once$' "$work/server.out")" = 1 ] || fail "handler count for once"

log "a datagram over 1500 bytes changes nothing"
python3 - <<'PY'
import socket
# CON POST /cmd, id 0x0bad, token "big", payload of 1600 bytes.
msg = bytes([0x43, 0x02, 0x0b, 0xad]) + b"big" + bytes([0xb3]) + b"cmd" + b"\xff" + b"x" * 1600
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.settimeout(1.0)
s.sendto(msg, ("127.0.0.1", 5683))
try:
    data = s.recv(2048)
    raise SystemExit("answered a cut datagram: %r" % data[:16])
except socket.timeout:
    pass
PY
expect 'hello' -m get coap://127.0.0.1/hello
grep -q '^run /cmd x' "$work/server.out" && fail "the long datagram reached a handler"
kill "$server"
wait "$server" || fail "the endpoint did not stop cleanly: $(cat "$work/server.err")"

log "the endpoint asks coap-server-notls"
ns_add_host hs 10.9.3.2/24 10.9.3.1/24
ns_exec hs coap-server-notls -A 10.9.3.2 -d 4 > "$work/coap-server.out" 2>&1 &
on_exit kill $!
wait_port udp 5683 10 hs
ask() { "$node" ask 10.9.3.1 10.9.3.2 --timeout 5 "$@"; }
want() {
  local expected=$1 got
  shift
  got=$(ask "$@") || fail "ask $*: $got"
  [ "$got" = "$expected" ] || fail "ask $*: '$got', want '$expected'"
}
got=$(ask get /.well-known/core)
grep -q '</time>' <<< "$got" || fail "core listing: $got"
got=$(ask get /time)
grep -q '^answer 2.05 (Content) ' <<< "$got" || fail "GET /time: $got"
want 'answer 2.01 (Created)' put /mirel one
want 'answer 2.05 (Content) one' get /mirel
want 'answer 2.04 (Changed)' put /mirel two
want 'answer 2.05 (Content) two' get /mirel
want 'answer 2.01 (Created)' post /posted body
want 'answer 2.02 (Deleted)' delete /mirel
want 'answer 4.04 (Not Found) Not Found' get /mirel
want 'answer 4.05 (Method not allowed) Method Not Allowed' post /example_data x
log "the endpoint and libcoap's tools understood each other"
