#!/usr/bin/env bash
# Side-by-side benchmark of the Mirel endpoint and libcoap's
# coap-server-notls, in a namespace of its own:
#   mirel/bench/compare_libcoap.sh [--build DIR] [--length SECONDS] [--rounds N]
# Builds a release into build/bench unless --build names a build folder.
# The same plain load generator (mirel_coap_load) asks both servers for a
# 5-byte resource, the two alternating: sequential confirmable GETs and 64
# outstanding, with server and load on one CPU and on two (median of the
# rounds, with the ratio Mirel / libcoap). Then the CPU share of a Mirel
# endpoint while 10 CONs to a silent peer wait for their answers.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)

. "$root/mirel/bench/lib_bench.sh"
bench_start "mirel_node mirel_coap_load" "$@"
[ "$(nproc)" -ge 2 ] || fail "the split layout needs two CPUs"
node=$(find "$build" -name mirel_node -type f -perm -u+x | head -1)
load=$(find "$build" -name mirel_coap_load -type f -perm -u+x | head -1)
[ -n "$node" ] && [ -n "$load" ] || fail "mirel_node or mirel_coap_load not built in $build"
work=$(mktemp -d)

"$node" serve 127.0.0.1 >"$work/mirel.out" 2>&1 &
mirel_pid=$!
on_exit bash -c "kill $mirel_pid 2>/dev/null || true"
coap-server-notls -A 127.0.0.1 -p 5684 -d 4 -v 0 >"$work/libcoap.out" 2>&1 &
libcoap_pid=$!
on_exit bash -c "kill $libcoap_pid 2>/dev/null || true"
wait_port udp 5683
wait_port udp 5684
# The same 5-byte resource on both.
coap-client-notls -m put -e hello coap://127.0.0.1:5684/hello >/dev/null
[ "$(coap-client-notls -m get coap://127.0.0.1:5684/hello)" = hello ] || fail "libcoap resource"
declare -A port=([mirel]=5683 [libcoap]=5684) pid=([mirel]=$mirel_pid [libcoap]=$libcoap_pid)

median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
# rate SERVER WINDOW LOADCPU: messages answered per second.
rate() {
  taskset -c "$3" "$load" 127.0.0.1 "${port[$1]}" /hello "$2" "$length" | awk '{ print $3 }'
}

declare -A result
for layout in one split; do
  loadcpu=0
  [ $layout = split ] && loadcpu=1
  for s in mirel libcoap; do taskset -a -p -c 0 "${pid[$s]}" >/dev/null; done
  for window in 1 64; do
    declare -A runs=([mirel]="" [libcoap]="")
    for r in $(seq 1 "$rounds"); do
      for s in mirel libcoap; do runs[$s]+=" $(rate $s $window $loadcpu)"; done
    done
    for s in mirel libcoap; do
      # shellcheck disable=SC2086
      result[$layout,$window,$s]=$(median ${runs[$s]})
    done
  done
done

# Idle: 10 CONs to a port where nobody answers, over 6 of their 9 seconds.
kill "$mirel_pid"
wait "$mirel_pid" 2>/dev/null || true
"$node" ask 127.0.0.1 127.0.0.1:5999 --together --timeout 9 get /silent $(seq -f 'w%g' 1 10) >/dev/null &
waiting=$!
sleep 1
ticks() { awk '{ print $14 + $15 }' "/proc/$waiting/stat"; }
t0=$(ticks)
sleep 6
t1=$(ticks)
hz=$(getconf CLK_TCK)
idle_cpu=$(awk -v d=$((t1 - t0)) -v hz="$hz" 'BEGIN { printf "%.2f", 100 * d / hz / 6 }')
wait "$waiting" || true

echo "Mirel endpoint beside libcoap $(dpkg-query -W -f '${Version}' libcoap3-bin 2>/dev/null)" \
  "(confirmable GETs of a 5-byte resource, ${length} s runs, median of $rounds)"
printf '%-8s %-12s %12s %12s %8s\n' layout load "Mirel msg/s" "libcoap" ratio
for layout in one split; do
  for window in 1 64; do
    m=${result[$layout,$window,mirel]} l=${result[$layout,$window,libcoap]}
    label=sequential
    [ "$window" = 64 ] && label="64 in flight"
    printf '%-8s %-12s %12s %12s %8s\n' "$layout" "$label" "$m" "$l" \
      "$(awk -v m="$m" -v l="$l" 'BEGIN { printf "%.2f", (l > 0 ? m / l : 0) }')"
  done
done
echo "CPU while 10 CONs wait unanswered: ${idle_cpu}%"
