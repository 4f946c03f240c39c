#!/usr/bin/env bash
# Side-by-side benchmark of dnsrelayd and dnsmasq (a forwarding cache with
# the same upstream, nsd), in a namespace of its own:
#   dnsproxy/bench/compare_dnsmasq.sh [--build DIR] [--soak SECONDS] [--rounds N] [--length SECONDS]
# Builds a release of dnsrelayd into DIR (build/bench by default; any folder,
# also one under /tmp) when it is missing. Reports:
# cached and uncached queries per second (dnsperf -t 1, the two daemons
# alternating, median of the rounds), p99 latency at half of each one's
# cached and uncached rate, resident memory idle and over a soak, and a run
# with SIGURG every 100 ms (answers lost, memory before and after).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)

if [ "${1:-}" != --inner ]; then
  build=$root/build/bench
  if [ "${1:-}" = --build ]; then
    build=${2:?--build wants a folder}
    shift 2
  fi
  mkdir -p "$build"
  build=$(cd "$build" && pwd)
  if [ ! -x "$build/dnsproxy/dnsrelayd" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DFW_SANITIZE=OFF -DFW_TESTS=OFF >/dev/null
  fi
  cmake --build "$build" --target dnsrelayd >/dev/null
  # nsrun keeps $FW_BUILD_DIR in sight, also under /tmp (its /tmp is new).
  export FW_SOURCE_DIR=$root FW_BUILD_DIR=$build FW_BENCH_DAEMON=$build/dnsproxy/dnsrelayd
  exec "$root/tests/harness/nsrun" --hostname bench -- bash "$0" --inner "$@"
fi
shift
soak=600 rounds=3 length=5
while [ $# -gt 0 ]; do
  case "$1" in
    --soak) soak=$2; shift 2 ;;
    --rounds) rounds=$2; shift 2 ;;
    --length) length=$2; shift 2 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done

. "$root/tests/harness/lib.sh"
require_scenario_ns
work=$(mktemp -d)
. "$root/tests/e2e/dnsproxy/lib_dns.sh"
start_nsd 127.0.0.2 5353

relay_port=5300 dnsmasq_port=5400
cat >"$work/relay.conf" <<CONF
dns_server = 127.0.0.2:5353
dns_udp_port = $relay_port
dns_tcp_port = $relay_port
# The router bounds the proxy (dnsmasq here keeps 10000 names).
max_mem = 4M
CONF
"$FW_BENCH_DAEMON" -c "$work/relay.conf" -p "$work/relay.pid" 2>"$work/relay.log" &
relay_pid=$!
on_exit quiet_kill "$relay_pid"
dnsmasq -k --no-resolv --no-hosts --server=127.0.0.2#5353 --cache-size=10000 --bind-interfaces \
  --listen-address=127.0.0.1 -p "$dnsmasq_port" --user=root --pid-file="$work/dnsmasq.pid" 2>"$work/dnsmasq.log" &
dnsmasq_pid=$!
on_exit quiet_kill "$dnsmasq_pid"
wait_port udp "$relay_port"
wait_port udp "$dnsmasq_port"
declare -A port=([relay]=$relay_port [dnsmasq]=$dnsmasq_port) pid=([relay]=$relay_pid [dnsmasq]=$dnsmasq_pid)

rss_kib() { awk '/^VmRSS:/ { print $2 }' "/proc/$1/status"; }
sleep 0.5
idle_relay=$(rss_kib "$relay_pid") idle_dnsmasq=$(rss_kib "$dnsmasq_pid")

# Queries: 100 names that stay cached; unique names (nsd's wildcard answers
# them) that neither cache has seen, a fresh set for every run.
for i in $(seq 1 100); do echo "c$i.wild.example.test A"; done >"$work/cached.txt"
unique_file() { awk -v p="$1" 'BEGIN { for (i = 0; i < 600000; i++) printf "u%s-%d.wild.example.test A\n", p, i }' >"$work/u.txt"; }

# perf DAEMON FILE [dnsperf args...]: prints "qps lost".
perf() {
  local d=$1 file=$2
  shift 2
  dnsperf -s 127.0.0.1 -p "${port[$d]}" -d "$file" -t 1 "$@" >"$work/perf.out" 2>&1 || true
  awk '/Queries per second:/ { q = $4 } /Queries lost:/ { l = $3 } END { printf "%.0f %d\n", q, l }' "$work/perf.out"
}
median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

for d in relay dnsmasq; do dnsperf -s 127.0.0.1 -p "${port[$d]}" -d "$work/cached.txt" -n 1 -t 1 >/dev/null 2>&1; done
declare -A cached uncached
run=0
for r in $(seq 1 "$rounds"); do
  for d in relay dnsmasq; do
    read -r q _ < <(perf "$d" "$work/cached.txt" -l "$length" -q 200)
    cached[$d]="${cached[$d]:-} $q"
    run=$((run + 1))
    unique_file "$run"
    read -r q _ < <(perf "$d" "$work/u.txt" -l "$length" -q 200)
    uncached[$d]="${uncached[$d]:-} $q"
  done
done
declare -A cached_med uncached_med
for d in relay dnsmasq; do
  # shellcheck disable=SC2086
  cached_med[$d]=$(median ${cached[$d]})
  # shellcheck disable=SC2086
  uncached_med[$d]=$(median ${uncached[$d]})
done

# p99 DAEMON FILE QPS: 99th percentile latency (ms) from dnsperf's per-query
# lines (two sender threads: one thread printing every answer falls behind
# at these rates), kept in a file first so that nothing competes for the CPU.
p99() {
  dnsperf -s 127.0.0.1 -p "${port[$1]}" -d "$2" -t 1 -l 3 -Q "$3" -T 2 -c 2 -v >"$work/lat.out" 2>/dev/null || true
  awk '$1 == ">" { print $NF * 1000 }' "$work/lat.out" | sort -n |
    awk '{ v[NR] = $1 } END { if (NR) printf "%.3f", v[int(NR * 0.99)]; else print "n/a" }'
}
declare -A p99c p99u
for d in relay dnsmasq; do
  p99c[$d]=$(p99 "$d" "$work/cached.txt" $((cached_med[$d] / 2)))
  run=$((run + 1))
  unique_file "$run"
  p99u[$d]=$(p99 "$d" "$work/u.txt" $((uncached_med[$d] / 2)))
done

# SIGURG every 100 ms during a run of cached and new names.
run=$((run + 1))
unique_file "$run"
paste -d '\n' "$work/cached.txt" <(head -100000 "$work/u.txt") | grep . >"$work/mixed.txt"
urg_before=$(rss_kib "$relay_pid")
(while kill -URG "$relay_pid" 2>/dev/null; do sleep 0.1; done) &
urg_loop=$!
read -r urg_qps urg_lost < <(perf relay "$work/mixed.txt" -l 5 -Q 5000)
urg_sent=$(awk '/Queries sent:/ { print $3 }' "$work/perf.out")
kill "$urg_loop" 2>/dev/null || true
wait "$urg_loop" 2>/dev/null || true
sleep 0.5
kill -0 "$relay_pid" || { echo "dnsrelayd died under SIGURG" >&2; exit 1; }
urg_after=$(rss_kib "$relay_pid")

# Soak: a steady mix, resident memory sampled every 10 s.
soak_samples=()
run=$((run + 1))
unique_file "$run"
paste -d '\n' "$work/cached.txt" "$work/u.txt" | grep . >"$work/soak.txt"
dnsperf -s 127.0.0.1 -p "$relay_port" -d "$work/soak.txt" -t 1 -l "$soak" -Q 2000 >"$work/soak.out" 2>&1 &
soak_pid=$!
while kill -0 "$soak_pid" 2>/dev/null; do
  soak_samples+=("$(rss_kib "$relay_pid")")
  sleep 10
done
soak_lost=$(awk '/Queries lost:/ { print $3 }' "$work/soak.out")
sleep 4 # the last requests end and the pending table shrinks
idle_after=$(rss_kib "$relay_pid")

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", b ? a / b : 0 }'; }
cat <<REPORT
dnsrelayd vs dnsmasq (dnsperf -t 1 -q 200, ${length}s runs, alternating, median of $rounds)
  cached   qps: dnsrelayd ${cached_med[relay]}  dnsmasq ${cached_med[dnsmasq]}  ratio $(ratio "${cached_med[relay]}" "${cached_med[dnsmasq]}")   runs:${cached[relay]} /${cached[dnsmasq]}
  uncached qps: dnsrelayd ${uncached_med[relay]}  dnsmasq ${uncached_med[dnsmasq]}  ratio $(ratio "${uncached_med[relay]}" "${uncached_med[dnsmasq]}")   runs:${uncached[relay]} /${uncached[dnsmasq]}
  p99 at half load, cached:   dnsrelayd ${p99c[relay]} ms  dnsmasq ${p99c[dnsmasq]} ms
  p99 at half load, uncached: dnsrelayd ${p99u[relay]} ms  dnsmasq ${p99u[dnsmasq]} ms
  RSS idle at start: dnsrelayd ${idle_relay} KiB  dnsmasq ${idle_dnsmasq} KiB
  SIGURG every 100 ms, 5 s at 5000 qps: sent $urg_sent, lost $urg_lost, RSS ${urg_before} -> ${urg_after} KiB, alive
  soak ${soak}s at 2000 qps (mixed): lost $soak_lost, RSS samples (KiB): ${soak_samples[*]}
  RSS idle after everything: ${idle_after} KiB
REPORT
