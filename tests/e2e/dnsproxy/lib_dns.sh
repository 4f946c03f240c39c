# Helpers of the DNS proxy scenarios: nsd as a real upstream, the scripted
# upstream peers, the proxy itself and dig with short waits.
# Needs lib.sh already sourced. $work is the scratch folder: made here
# unless the caller has one (DNS_E2E_KEEP names one that outlives the run).
work=${work:-${DNS_E2E_KEEP:-$(mktemp -d)}}
mkdir -p "$work"

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# start_nsd ADDR PORT: nsd, authoritative for example.test (not on port 53,
# which the proxy takes on every address).
start_nsd() {
  local addr=$1 port=$2
  cat >"$work/example.test.zone" <<'ZONE'
$ORIGIN example.test.
$TTL 300
@    IN SOA ns.example.test. host.example.test. 1 3600 600 86400 300
     IN NS  ns.example.test.
ns   IN A   192.0.2.1
www  IN A   192.0.2.10
www  IN AAAA 2001:db8::10
*.wild IN A 192.0.2.11
txt  IN TXT "hello \"quoted\" world"
ZONE
  cat >"$work/nsd.conf" <<CONF
server:
  ip-address: $addr
  port: $port
  username: ""
  chroot: ""
  zonesdir: "$work"
  pidfile: "$work/nsd.pid"
  database: ""
  zonelistfile: "$work/zone.list"
  xfrdfile: "$work/xfrd.state"
  xfrdir: "$work"
  server-count: 1
  rrl-ratelimit: 0
  rrl-whitelist-ratelimit: 0
  verbosity: 0
remote-control:
  control-enable: no
zone:
  name: example.test
  zonefile: example.test.zone
CONF
  nsd -d -c "$work/nsd.conf" >"$work/nsd.log" 2>&1 &
  on_exit quiet_kill "$!"
  disown "$!" # its end at the scenario's end is no news
  wait_port udp "$port" 10
}

# start_peers PEER...: the scripted upstreams (ADDR:PORT:MODE each); their
# queries are logged in $work/peers.log.
start_peers() {
  : >"$work/peers.log"
  /usr/bin/python3 "$here/upstream_peer.py" "$work/peers.log" "$@" >"$work/peers.out" 2>&1 &
  on_exit quiet_kill "$!"
  disown "$!"
  wait_file "$work/peers.out"
}

# start_proxy DAEMON CONFIG [ARGS...]: dnsrelayd in the background, debug
# log (unless proxy_debug is set empty) in $work/proxy.log; waits for its
# listeners.
start_proxy() {
  local daemon=$1 config=$2
  shift 2
  "$daemon" -c "$config" -p /var/run/dnsrelayd.pid ${proxy_debug--d} "$@" 2>>"$work/proxy.log" &
  proxy_pid=$!
  on_exit quiet_kill "$proxy_pid"
  wait_file /var/run/dnsrelayd.pid
  wait_port udp 53
}

# peer_count MODE NAME: queries for NAME that peer MODE received.
peer_count() { awk -v m="$1" -v n="$2" '$1 == m && $2 == n { c++ } END { print c + 0 }' "$work/peers.log"; }

# ask [DIG ARGS...]: dig at the proxy, short answer only.
ask() { dig @127.0.0.1 +short +tries=1 +time=3 "$@"; }
status_of() { dig @127.0.0.1 +tries=1 +time=3 "$@" | sed -n 's/.*status: \([A-Z]*\),.*/\1/p'; }
