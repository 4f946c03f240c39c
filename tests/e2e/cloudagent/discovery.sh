# Three agents on one bridge, each in a namespace of its own, with the cloud
# stand-ins on the bridge: each finds the other two by multicast ("/zmo/dis");
# a "client" sends no host traffic and one without the stats subscription no
# traffic at all, while discovery goes on.
set -euo pipefail
. "$FW_SOURCE_DIR/tests/harness/lib.sh"
require_scenario_ns
agent=$1 sockets=$2
here=$(cd "$(dirname "$0")" && pwd)
peer="$here/cloud_peer.py"
work=$(mktemp -d /tmp/cloud.XXXXXX)

cat > "$work/routes.json" <<'END'
{
  "/rci/show/version/release": "\"4.1.5\"",
  "/rci/show/last-change/checksum": "\"c0ffee\"",
  "/rci/show/system": {"cpuload": 1, "memory": "1/4"},
  "/rci/show/interface": {"ISP": {"global": true, "defaultgw": true}},
  "/rci/show/interface/stat": {"rxbytes": 1, "txbytes": 2},
  "/rci/show/ip/hotspot": {"host": [{"active": true, "mac": "aa:bb:cc:dd:ee:01", "txbytes": 5, "rxbytes": 6}]}
}
END
# One core for the three: its sockets are files, which every namespace sees.
"$sockets" --routes "$work/routes.json" --log "$work/core.log" --user admin:secret > "$work/sockets.out" 2>&1 &
on_exit quiet_kill $!
wait_line "$work/sockets.out" ready

ip link add br0 type bridge forward_delay 0
ip link set br0 type bridge mcast_snooping 0
for n in 1 2 3; do
  ns_add_host "a$n" "10.9.0.1$n/24" "10.9.1.$n/32"
  ip addr flush dev "veth-a$n"
  ip link set "veth-a$n" master br0
done
ip addr add 10.9.0.2/24 dev br0
ip link set br0 up

echo '{}' > "$work/mode.json"
python3 "$peer" serve 10.9.0.2 "$work/cloud.log" "$work/mode.json" > "$work/cloud.out" 2>&1 &
on_exit quiet_kill $!
wait_line "$work/cloud.out" ready

echo '{"subscription": {"stats": true, "system": true}}' > "$work/stats.json"
echo '{"subscription": {"system": true}}' > "$work/nostats.json"
start_agent() { # N TYPE CONFIG
  ns_exec "a$1" env CLOUDAGENT_TICK_MS=150 "$agent" -f -l -c "0000000$1-0000-4000-8000-000000000000" \
    -k "$(od -An -tx1 -N32 /dev/urandom | tr -d " \n")" -t "$2" -C "$work/$3.json" -n "agent $1" "10.9.0.1$1" > "$work/agent$1.out" 2>&1 &
  on_exit quiet_kill $!
}
start_agent 1 router stats
start_agent 2 router nostats
start_agent 3 client stats

ask() { python3 "$peer" ask "$@"; }
dis() { # N: the client IDs agent N lists, sorted
  local out token
  out=$(ask "10.9.0.1$1" POST /zmo/login 'login=admin&pass=secret')
  [[ "$out" =~ ^2\.05\ 0\ ([0-9a-f-]{36})$ ]] || return 1
  token=${BASH_REMATCH[1]}
  out=$(ask "10.9.0.1$1" GET /zmo/dis "t=$token")
  python3 -c 'import json,sys
code, fmt, body = sys.argv[1].split(" ", 2)
assert code == "2.05" and fmt == "50"
d = json.loads(body)
print(" ".join(sorted("%s=%s/%s/%s/%s" % (k, v["ip"], v["name"].replace(" ", "_"), v["type"], v["port"]) for k, v in d.items())))' "$out"
}
lists_others() { # N WANTED
  local got
  got=$(dis "$1") || return 1
  [ "$got" = "$2" ]
}
c() { echo "0000000$1-0000-4000-8000-000000000000=10.9.0.1$1/agent_$1/$2/80"; }
for n in 1 2 3; do
  case $n in
  1) want="$(c 2 router) $(c 3 client)" ;;
  2) want="$(c 1 router) $(c 3 client)" ;;
  3) want="$(c 1 router) $(c 2 router)" ;;
  esac
  wait_until 30 lists_others "$n" "$want" ||
    fail "agent $n lists [$(dis "$n" || true)], wanted [$want]: $(tail -5 "$work/agent$n.out")"
  log "agent $n lists the other two"
done

# Reports by client ID: the client sends interface traffic but no host
# traffic; agent 2 (no stats) sends neither, only its system report.
count() {
  python3 - "$work/cloud.log" "$1" "$2" <<'END'
import json, sys
print(sum(1 for l in open(sys.argv[1]) if (e := json.loads(l)).get("path") == sys.argv[3]
          and dict(e["query"]).get("cid", "").startswith("0000000" + sys.argv[2])))
END
}
sent() { [ "$(count "$1" "$2")" -ge 1 ]; }
wait_until 20 sent 1 /tcd || fail "no host traffic from the router"
wait_until 20 sent 3 /td || fail "no interface traffic from the client"
wait_until 20 sent 2 /s || fail "no system report from agent 2"
expect "host traffic from the client" "$(count 3 /tcd)" 0
expect "traffic without the stats subscription" "$(count 2 /td) $(count 2 /tcd)" "0 0"
log "discovery scenario: ok"
