# Shell helpers for end-to-end scenarios, benchmarks and scripts/run.d. Source
# it from a script that runs under tests/harness/nsrun:
#   . "$FW_SOURCE_DIR/tests/harness/lib.sh"
#   require_scenario_ns
# and wait with wait_line / wait_port / wait_file / wait_socket, never with a
# loop of one's own; expect and quiet_kill are here too.
# Extra hosts are network namespaces joined to the scenario's by veth pairs;
# whatever a scenario starts dies with nsrun's pid namespace, and on_exit
# actions run first, also when a step fails.

# Refuses to go on outside an nsrun namespace: daemons bound to fixed ports
# and paths must never start in the host's own namespaces.
require_scenario_ns() {
  local want
  want=$(cat /run/.nsrun/pidns 2>/dev/null) || want=
  if [ -z "$want" ] || [ "$want" != "$(stat -L -c %i /proc/self/ns/pid)" ]; then
    echo "refusing to run outside a scenario namespace: start this under tests/harness/nsrun" >&2
    exit 1
  fi
}

_ns_exit_actions=()
# on_exit CMD...: run CMD when the scenario ends, the latest first.
on_exit() {
  local q
  printf -v q '%q ' "$@"
  _ns_exit_actions=("$q" "${_ns_exit_actions[@]}")
}
_ns_run_exit_actions() {
  local status=$? a
  for a in "${_ns_exit_actions[@]}"; do eval "$a" || true; done
  exit "$status"
}
trap _ns_run_exit_actions EXIT

log() { echo "== $*" >&2; }
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# ns_add_host NAME ADDR/PREFIX PEERADDR/PREFIX
# A second host: network namespace NAME whose "eth0" has ADDR, joined by a
# veth pair to the scenario namespace's "veth-NAME", which has PEERADDR.
ns_add_host() {
  local name=$1 addr=$2 peer=$3
  local ours="veth-$name"
  [ ${#ours} -le 15 ] || fail "host name too long for an interface: $name"
  ip netns add "$name" || fail "can't add namespace $name"
  on_exit ip netns delete "$name"
  ip link add "$ours" type veth peer name "tmp-$name" || fail "can't make veth for $name"
  ip link set "tmp-$name" netns "$name"
  ip -n "$name" link set "tmp-$name" name eth0
  ip -n "$name" link set lo up
  ip -n "$name" addr add "$addr" dev eth0
  ip -n "$name" link set eth0 up
  ip addr add "$peer" dev "$ours"
  ip link set "$ours" up
}

# ns_if NAME: the scenario side's interface towards host NAME.
ns_if() { echo "veth-$1"; }

# ns_exec NAME CMD...: run CMD on host NAME.
ns_exec() {
  local name=$1
  shift
  ip netns exec "$name" "$@"
}

# ns_mac NAME [IF]: the MAC address of IF (eth0) on host NAME; NAME "-" is
# the scenario namespace itself.
ns_mac() {
  local name=$1 ifname=${2:-eth0}
  if [ "$name" = - ]; then
    cat "/sys/class/net/$ifname/address"
  else
    ip -n "$name" -o link show "$ifname" | sed -n 's/.*link\/ether \([0-9a-f:]*\).*/\1/p'
  fi
}

# wait_until TIMEOUT_S CMD...: until CMD succeeds (tried every 50 ms); returns
# 1 when it still fails after TIMEOUT_S seconds. The waits below use it; a
# scenario writes: wait_until 5 test -S "$sock" || fail "no socket: $(cat "$log")"
wait_until() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    [ $SECONDS -lt $deadline ] || return 1
    sleep 0.05
  done
}

_listens() { # _listens FLAG PORT [NAME]
  if [ -n "${3:-}" ]; then
    ns_exec "$3" ss "$1" "sport = :$2" | grep -q .
  else
    ss "$1" "sport = :$2" | grep -q .
  fi
}

# wait_port tcp|udp PORT [TIMEOUT_S] [NAME]: until something listens on PORT
# (in the scenario namespace, or on host NAME).
wait_port() {
  local proto=$1 port=$2 timeout=${3:-10} name=${4:-} flag
  case "$proto" in tcp) flag=-Hltn ;; udp) flag=-Hlun ;; *) fail "wait_port: tcp or udp" ;; esac
  wait_until "$timeout" _listens "$flag" "$port" "$name" ||
    fail "nothing listens on $proto port $port after ${timeout}s"
}

# wait_file PATH [TIMEOUT_S]: until PATH exists and is not empty.
wait_file() {
  wait_until "${2:-10}" test -s "$1" || fail "$1 did not appear after ${2:-10}s"
}

# wait_socket PATH [TIMEOUT_S]: until PATH is a Unix socket.
wait_socket() {
  wait_until "${2:-10}" test -S "$1" || fail "no socket at $1 after ${2:-10}s"
}

# wait_line FILE TEXT [TIMEOUT_S]: until a line of FILE holds TEXT (a fixed
# string), as a program's "ready" on its output. On a timeout it fails and
# shows what FILE holds.
wait_line() {
  local file=$1 text=$2 timeout=${3:-10}
  wait_until "$timeout" grep -qF -- "$text" "$file" 2> /dev/null ||
    fail "no '$text' in $file after ${timeout}s: $(cat "$file" 2> /dev/null)"
}

# expect WHAT GOT WANTED: fails unless GOT is WANTED, saying both.
expect() {
  [ "$2" = "$3" ] || fail "$1: got [$2], wanted [$3]"
  log "$1: ok"
}

# start_capture IF FILE FILTER [NAME]: tcpdump on IF (of host NAME) writes
# each packet to FILE as soon as it passes (--immediate-mode -U); returns once
# it listens. stop_capture ends it. Decode FILE with tshark -r afterwards; wait
# for what a step sent with wait_until rather than a fixed sleep.
start_capture() {
  local iface=$1 file=$2 filter=$3 name=${4:-}
  # Immediate mode sizes the kernel ring in whole snapshot lengths: the
  # default 2 MiB holds 8 packets, and a burst while tcpdump waits for a
  # loaded CPU is dropped. 64 MiB holds 256.
  local cmd=(tcpdump -n -U --immediate-mode -B 65536 -i "$iface" -w "$file" "$filter")
  if [ -n "$name" ]; then
    ip netns exec "$name" "${cmd[@]}" 2> "$file.err" &
  else
    "${cmd[@]}" 2> "$file.err" &
  fi
  capture_pid=$!
  on_exit quiet_kill "$capture_pid"
  wait_line "$file.err" "listening on" 10
}

# stop_capture: ends the capture start_capture began last.
stop_capture() {
  kill -INT "$capture_pid" 2> /dev/null || true
  wait "$capture_pid" 2> /dev/null || true
}

# quiet_kill PID...: SIGKILL, silent when the process is already gone
# (on_exit quiet_kill "$pid" for a daemon that a step may have stopped).
quiet_kill() {
  kill -KILL "$@" 2> /dev/null || true
}
