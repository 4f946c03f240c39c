#!/usr/bin/env bash
# Broken PADOs from a raw-socket injector: the probe neither crashes nor
# lets a wire text add a feedback variable, and still takes the good offer.
set -euo pipefail
. "$(dirname "$0")/../../harness/lib.sh"
require_scenario_ns
probe=$1
inject=$(dirname "$0")/l2inject.py

cat > /tmp/feedback.sh <<'SH'
#!/bin/sh
env | grep '^PPPOE_' | sort > /tmp/feedback.env
SH
chmod +x /tmp/feedback.sh

ns_add_host bad 10.72.0.2/24 10.72.0.1/24
ns_exec bad /usr/bin/python3 "$inject" pado eth0 6 &
injector=$!
sleep 0.5
"$probe" -I veth-bad -w 3 -r 3 -f /tmp/feedback.sh > /tmp/out 2> /tmp/err || fail "probe failed: $(cat /tmp/out /tmp/err)"
wait "$injector" || fail "injector failed"

grep -qx 'AC name   : good-ac' /tmp/out || fail "the good offer is missing: $(cat /tmp/out)"
grep -qx 'PPPOE_AC[0-9]*_NAME=good-ac' /tmp/feedback.env || fail "good-ac not reported"
# Only the variables the probe defines, and none a name smuggled in.
if grep -vE '^PPPOE_(INTERFACE|AC[0-9]+_(NAME|HW_ADDR|ERROR|SERVICE[0-9]+))=' /tmp/feedback.env; then
  fail "a variable the probe never sets"
fi
if grep -E '^PPPOE_(FORGED|X|Y)=' /tmp/feedback.env; then fail "a forged variable"; fi
grep -qx 'PPPOE_AC[0-9]*_NAME=inj_PPPOE_FORGED=1_' /tmp/feedback.env || fail "control bytes not replaced: $(cat /tmp/feedback.env)"
# A length field beyond the frame is walked only as far as the frame goes.
grep -q 'NAME=long-length$' /tmp/feedback.env || fail "long-length: the bounded walk lost it"
# Printed lines carry no raw control bytes either.
if LC_ALL=C grep -q $'[\x01-\x08\x0b-\x1f\x7f]' /tmp/out; then fail "control bytes printed"; fi
grep -q 'several AC names' /tmp/err || fail "two AC names not reported"
grep -q 'with an invalid length' /tmp/err || fail "tag past the length not reported"
log "$(grep -c 'AC name' /tmp/out) offers printed, $(wc -l < /tmp/feedback.env) variables, all well-formed"

log "a flood of offers under ever new names and addresses"
ns_exec bad /usr/bin/python3 "$inject" pado-flood eth0 5 > /tmp/flood.count &
injector=$!
sleep 0.5
rm -f /tmp/feedback.env
# A small quarantine, so that the sanitizer's own store of freed blocks does
# not stand for what the probe keeps.
ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}quarantine_size_mb=8" \
  /usr/bin/time -f '%M' -o /tmp/rss "$probe" -I veth-bad -w 3 -r 3 -f /tmp/feedback.sh > /tmp/out 2> /tmp/err \
  || fail "probe failed under the flood: $(tail -3 /tmp/err)"
wait "$injector"
grep -q 'Too many access concentrators' /tmp/err || fail "the full list went unnoticed"
[ "$(grep -c '^AC name' /tmp/out)" -le 256 ] || fail "more offers kept than the list holds"
[ "$(grep -c '_NAME=' /tmp/feedback.env)" = 256 ] || fail "feedback: $(grep -c '_NAME=' /tmp/feedback.env) names"
log "$(cat /tmp/flood.count) offers sent, 256 kept, peak RSS $(cat /tmp/rss) KiB"
[ "$(cat /tmp/rss)" -lt 100000 ] || fail "peak RSS $(cat /tmp/rss) KiB"
echo PASS
