# One cloudagent against the core's sockets and the cloud stand-ins: the
# session (master, data server, Start, keep-alives, reports), core events,
# the served resources through the core, reconnection and a Start lost once.
set -euo pipefail
. "$FW_SOURCE_DIR/tests/harness/lib.sh"
require_scenario_ns
agent=$1 sockets=$2
here=$(cd "$(dirname "$0")" && pwd)
peer="$here/cloud_peer.py"
work=$(mktemp -d /tmp/cloud.XXXXXX)
cid=0123abcd-0000-4000-8000-00000000beef

ns_add_host cloud 10.9.0.2/24 10.9.0.1/24

# The core: its answers, its log, its events.
big=$(python3 -c 'print("x" * 10240)')
cat > "$work/routes.json" <<END
{
  "/rci/show/version/release": "\"4.1.5\"",
  "/rci/show/last-change/checksum": "\"c0ffee\"",
  "/rci/show/system": {"cpuload": 7, "memory": "512/1024"},
  "/rci/show/interface": {"ISP": {"global": true, "defaultgw": true}, "Home": {"global": false, "defaultgw": false},
                          "Guest": {"global": true, "defaultgw": false},
                          "We&ird=%zz": {"global": true, "defaultgw": false}},
  "/rci/show/interface/stat": {"rxbytes": 1000, "txbytes": 2000},
  "/rci/show/ip/hotspot": {"host": [{"active": true, "mac": "aa:bb:cc:dd:ee:01", "txbytes": 5, "rxbytes": 6},
                                    {"active": false, "mac": "aa:bb:cc:dd:ee:02", "txbytes": 1, "rxbytes": 1},
                                    {"active": true, "mac": "aa:bb&rx=9%", "txbytes": 3, "rxbytes": 4}]},
  "/rci/missing": {"\$reply": {"status": 404, "reason": "Not Found", "body": "gone"}},
  "/rci/slow": {"\$reply": {"fault": "delay", "body": "{}"}},
  "/rci/big": "\"$big\""
}
END
"$sockets" --routes "$work/routes.json" --log "$work/core.log" --user admin:secret --events "$work/events" \
  > "$work/sockets.out" 2>&1 &
on_exit quiet_kill $!
wait_line "$work/sockets.out" ready

echo '{"start": "drop"}' > "$work/mode.json"
ns_exec cloud python3 "$peer" serve 10.9.0.2 "$work/cloud.log" "$work/mode.json" > "$work/cloud.out" 2>&1 &
on_exit quiet_kill $!
wait_line "$work/cloud.out" ready

# -h answers after the core's version; no arguments too.
out=$("$agent" -h)
grep -q '^Usage: cloudagent: \[OPTION\]... <ADDRESS>' <<< "$out" || fail "usage: $out"
set +e
"$agent" -t bogus 10.9.0.1 2> "$work/err"
status=$?
set -e
expect "unknown type status" "$status" 1
expect "unknown type message" "$(cat "$work/err")" "Unknown mode."

cat > "$work/agent.json" <<'END'
{"http_port": 8080, "debug_level": 1, "subscription": {"stats": true, "system": true, "event": ["ConfigurationSaved"]}}
END
CLOUDAGENT_TICK_MS=150 "$agent" -f -l -c "$cid" -k "$(od -An -tx1 -N32 /dev/urandom | tr -d " \n")" -C "$work/agent.json" -n 'Tarn "lab"' 10.9.0.1 \
  > "$work/agent.out" 2>&1 &
agent_pid=$!
on_exit quiet_kill "$agent_pid"
wait_port udp 5683

# lines LOG PYTHON-CONDITION: how many JSON lines of the cloud's log match.
lines() {
  python3 - "$work/cloud.log" "$1" <<'END'
import json, sys
n = 0
for line in open(sys.argv[1]):
    e = json.loads(line)
    q = dict(e.get("query", []))
    if eval(sys.argv[2]):
        n += 1
print(n)
END
}
has() { [ "$(lines "$1")" -ge "${2:-1}" ]; }

log "first session: the Start is lost"
wait_until 20 has 'e["kind"] == "master" and e["error"] == "" and e["cid"] == "'$cid'" and e["type"] == "router"' ||
  fail "no master lookup: $(cat "$work/cloud.log" "$work/agent.out")"
wait_until 20 has 'e.get("path") == "/get" and q == {"cid": "'$cid'", "peer_cid": "data"}' || fail "no /get"
wait_until 20 has 'e.get("path") == "/r" and e["sealed"] and "Start" in e["payload"]' || fail "no Start: $(tail -5 "$work/agent.out"; cat "$work/cloud.log" "$work/cloud.out")"
wait_until 20 has 'e.get("path") == "/a"' 2 || fail "no keep-alives"
digest=$(printf statssystemConfigurationSaved | md5sum | cut -d' ' -f1)
start=$(python3 -c 'import json,sys
for l in open(sys.argv[1]):
    e = json.loads(l)
    if e.get("path") == "/r" and "Start" in e["payload"]:
        print(json.dumps(json.loads(e["payload"]), sort_keys=True)); break' "$work/cloud.log")
expect "Start" "$start" '[{"a": {"c": "c0ffee", "s": "'$digest'", "v": "4.1.5"}, "t": "Start"}]'
# Not started: no reports go out.
expect "reports before the Start" "$(lines 'e.get("path") in ("/s", "/td", "/tcd")')" 0

log "keep-alives unanswered: reconnect, and the Start goes out again"
echo '{"alive": false}' > "$work/mode.json"
wait_until 20 has 'e["kind"] == "master" and e["error"] == "reconnect"' || fail "no reconnect"
echo '{}' > "$work/mode.json"
wait_until 20 has 'e.get("path") == "/r" and "Start" in e["payload"]' 2 || fail "no second Start"

log "reports at their ticks"
wait_until 20 has 'e.get("path") == "/s" and e["sealed"] and q.get("mem") == "50" and q.get("cpu") == "7"' ||
  fail "no system report: $(grep -v "master lookup" "$work/agent.out" | tail -20; tail -5 "$work/cloud.log")"
wait_until 20 has 'e.get("path") == "/td" and q.get("iface") == "ISP" and q.get("gw") == "true" and q.get("rx") == "1000"' ||
  fail "no ISP traffic"
wait_until 20 has 'e.get("path") == "/td" and q.get("iface") == "Guest" and "gw" not in q' || fail "no Guest traffic"
wait_until 20 has 'e.get("path") == "/tcd" and q.get("mac") == "aa:bb:cc:dd:ee:01" and q.get("tx") == "5"' ||
  fail "no host traffic"
# Names from the core are values of their own key, whatever they hold.
wait_until 20 has 'e.get("path") == "/td" and q.get("iface") == "We&ird=%zz" and "ird" not in q and len(q) == 4' ||
  fail "odd interface name: $(grep /td "$work/cloud.log" | tail -3)"
wait_until 20 has 'e.get("path") == "/tcd" and q.get("mac") == "aa:bb&rx=9%" and q.get("rx") == "4"' ||
  fail "odd MAC text: $(grep /tcd "$work/cloud.log" | tail -3)"
expect "inactive host reported" "$(lines 'e.get("path") == "/tcd" and q.get("mac") == "aa:bb:cc:dd:ee:02"')" 0
expect "local interface reported" "$(lines 'e.get("path") == "/td" and q.get("iface") == "Home"')" 0

log "core events reach the cloud as JSON"
printf '%s\n' 'Event::Type::Wan <e><id>ISP</id><name>wan "one"</name><priority>700</priority></e>' > "$work/events"
printf '%s\n' 'Event::Type::KnownHost <e><mac>aa:bb:cc:dd:ee:03</mac><action>rename</action><old-name>a\b&#1;</old-name><new-name>x"},{"t":"Evil</new-name></e>' > "$work/events"
printf '%s\n' 'Event::Type::ConfigurationSaved <e/>' > "$work/events"
wait_until 10 has 'e.get("path") == "/r" and "KnownHost" in e["payload"]' || fail "no KnownHost"
wait_until 10 has 'e.get("path") == "/r" and "ConfigurationSaved" in e["payload"]' || fail "no ConfigurationSaved"
events=$(python3 -c 'import json,sys
for l in open(sys.argv[1]):
    e = json.loads(l)
    if e.get("path") == "/r" and "Start" not in e["payload"]:
        print(json.dumps(json.loads(e["payload"]), sort_keys=True))' "$work/cloud.log")
grep -qF '[{"a": {"id": "ISP", "name": "wan \"one\"", "priority": 700}, "t": "Wan"}]' <<< "$events" || fail "Wan: $events"
grep -qF '[{"a": {"act": "rename", "mac": "aa:bb:cc:dd:ee:03", "new-name": "x\"},{\"t\":\"Evil", "old-name": "a\\b\u0001"}, "t": "KnownHost"}]' <<< "$events" ||
  fail "KnownHost: $events"
grep -qF '[{"a": {"c": "c0ffee"}, "t": "ConfigurationSaved"}]' <<< "$events" || fail "ConfigurationSaved: $events"

log "served resources through the core"
ask() { ns_exec cloud python3 "$peer" ask 10.9.0.1 "$@"; }
expect "login refused" "$(ask POST /zmo/login 'login=admin&pass=wrong')" "4.00 0 Wrong login or password"
# A token lives 20 ticks (300 s; 3 s at this tick): each step logs in afresh.
login() {
  local out
  out=$(ask POST /zmo/login 'login=admin&pass=secret')
  [[ "$out" =~ ^2\.05\ 0\ ([0-9a-f-]{36})$ ]] || fail "login: $out"
  token=${BASH_REMATCH[1]}
}
login
expect "ci GET" "$(ask GET /zmo/ci "req=%2Frci%2Fshow%2Fsystem&t=$token")" '2.05 50 {"cpuload":7,"memory":"512/1024"}'
expect "ci 404" "$(ask GET /zmo/ci "req=/rci/missing&t=$token")" "4.04 - Not Found"
expect "ci POST" "$(ask POST /zmo/ci "req=/rci/missing?a=1&t=$token" '{"x":1}')" "4.04 - Not Found"
expect "ci DELETE" "$(ask DELETE /zmo/ci "req=/rci/missing&t=$token")" "4.04 - Not Found"
expect "ci core time-out" "$(ask GET /zmo/ci "req=/rci/slow&t=$token")" "5.00 - 0x4"
expect "ci expired token" "$(ask GET /zmo/ci "req=/rci/show/system&t=$token")" "4.01 - "
login
got=$(ask GET /zmo/ci "req=/rci/big&t=$token")
expect "ci 10 KiB block-wise" "${#got} ${got:0:12}" "$((8 + 10242)) 2.05 50 \"xxx"
expect "ci wrong token" "$(ask GET /zmo/ci "req=/rci/show/system&t=21111111-2222-4333-8444-555555555555")" "4.01 - "
expect "ci injected req" "$(ask GET /zmo/ci "req=/rci/show/system%00SCGI&t=$token")" "4.00 - "
expect "ci relative req" "$(ask GET /zmo/ci "req=rci/show/system&t=$token")" "4.00 - "
expect "dis" "$(ask GET /zmo/dis "t=$token")" "2.05 50 {}"
expect "info" "$(ask GET /info)" '2.05 0 {"cid":"'$cid'","http_port":8080,"type":"router","name":"Tarn \"lab\"","version":"0.3.5-1"}'
expect "uhp injected cid" "$(ask POST /uhp 'cid=x%26peer_cid%3Ddata')" "4.00 - "
# The cloud's own way: sealed, after a handshake.
login
sealed() { ns_exec cloud python3 "$peer" ask --sealed 10.9.0.1 "$@"; }
expect "sealed ci" "$(sealed GET /zmo/ci "req=%2Frci%2Fshow%2Fsystem&t=$token")" '2.05 50 {"cpuload":7,"memory":"512/1024"}'
got=$(sealed GET /zmo/ci "req=/rci/big&t=$token")
expect "sealed 10 KiB block-wise" "${#got} ${got:0:12}" "$((8 + 10242)) 2.05 50 \"xxx"
# "/uhp": the master names the peer, and the agent asks it for its "/info".
expect "uhp" "$(ask POST /uhp 'cid=99999999-2222-4333-8444-555555555555')" "2.04 - "
wait_until 10 has 'e.get("path") == "/get" and q.get("peer_cid") == "99999999-2222-4333-8444-555555555555"' ||
  fail "no /get for the peer"
wait_until 10 has 'e.get("path") == "/info" and e["type"] == 0' || fail "no /info to the peer"
expect "logout" "$(ask POST /zmo/logout "t=$token")" "2.04 - "
expect "logout again" "$(ask POST /zmo/logout "t=$token")" "4.01 - "
expect "ci after logout" "$(ask GET /zmo/ci "req=/rci/show/system&t=$token")" "4.01 - "
# The core saw each request's pairs in order, and never the refused ones.
python3 - "$work/core.log" <<'END' || fail "core log: $(cat "$work/core.log")"
import json, sys
reqs = [json.loads(l) for l in open(sys.argv[1])]
post = [r for r in reqs if dict(r["pairs"])["REQUEST_METHOD"] == "POST"]
assert [p[0] for p in post[0]["pairs"]] == ["CONTENT_LENGTH", "REQUEST_METHOD", "REQUEST_URI", "SCGI", "HTTP_HOST",
                                            "REMOTE_ADDR", "SERVER_ADDR", "HTTP_CONTENT_TYPE"], post[0]
assert dict(post[0]["pairs"])["REQUEST_URI"] == "/rci/missing?a=1" and post[0]["body"] == '{"x":1}', post[0]
assert any(dict(r["pairs"])["REQUEST_METHOD"] == "DELETE" for r in reqs)
assert not any("SCGI" in dict(r["pairs"])["REQUEST_URI"] for r in reqs)
assert not any(dict(r["pairs"])["REQUEST_URI"].startswith("rci") for r in reqs)
END
if grep -q peer_cid=data "$work/cloud.log" && [ "$(lines 'e.get("path") == "/get" and q.get("cid") == "x"')" != 0 ]; then
  fail "an injected cid reached the master"
fi

log "SIGHUP reads the configuration again"
echo '{"http_port": 8181}' > "$work/agent.json"
kill -HUP "$agent_pid"
info_port() { ask GET /info | grep -q '"http_port":8181,'; }
wait_until 5 info_port || fail "port after SIGHUP: $(ask GET /info)"
echo '{"http_port": ' > "$work/agent.json"
kill -HUP "$agent_pid"
sleep 0.5
ask GET /info | grep -q '"http_port":8181,' || fail "a broken file changed the settings: $(ask GET /info)"

log "SIGTERM ends the agent with status 0"
kill -TERM "$agent_pid"
set +e
wait "$agent_pid"
status=$?
set -e
expect "exit status" "$status" 0
log "session scenario: ok"
