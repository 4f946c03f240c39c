#!/usr/bin/env bash
# Benchmark (not a test): CPU time that lldprecv and lldpd, side by side on
# one interface, spend on the same flood of LLDP frames, and their ratio.
#   bench_lldp_receive.sh BUILD_DIR [SECONDS] [FRAMES_PER_SECOND]
# The rate (default 20000) stays below what either can take, so that the CPU
# each spends is for the same frames.
# Use a release build (cmake -DCMAKE_BUILD_TYPE=Release); needs root.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [ "${1:-}" != --inside ]; then
  build=$(cd "${1:?usage: bench_lldp_receive.sh BUILD_DIR [SECONDS]}" && pwd)
  exec "$here/../../harness/nsrun" -- bash "$here/bench_lldp_receive.sh" --inside "${2:-5}" \
    "$build/tools/lldprecv" "${3:-20000}"
fi
seconds=$2 lldprecv=$3 rate=$4
. "$here/../../harness/lib.sh"
. "$here/lib_lldp.sh"
require_scenario_ns

add_user lldptest 4711
mkdir -p /tmp/run
chmod 1777 /tmp/run
ns_add_host peer 10.75.0.2/24 10.75.0.1/24
src=$(ns_mac - veth-peer | tr -d :)

ip netns exec peer "$lldprecv" -u lldptest &
receiver=$!
ip netns exec peer lldpd -d -I eth0 -u /tmp/lldpd.sock -O /dev/null > /dev/null 2>&1 &
lldpd=$!
sleep 1

# Clock ticks of user and system time of PID and its children.
ticks() {
  local p total=0
  for p in "$1" $(pgrep -P "$1" || true); do
    total=$(( total + $(awk '{ print $14 + $15 }' "/proc/$p/stat") ))
  done
  echo "$total"
}

# lldpsend's public form (lldpd hears only the nearest-bridge address).
frame="0180c200000e${src}88cc$(tlv 1 "04$src")$(tlv 2 "05$(hex veth-peer)")$(tlv 3 0078)$(tlv 4 "")"
frame+="$(tlv 5 "$(hex gw)")$(tlv 6 "$(hex 'Benchmark router')")"
frame+="$(tlv 7 00100010)$(tlv 127 "5a4d4f01$(hex router)")$(tlv 0 "")"

r0=$(ticks "$receiver") d0=$(ticks "$lldpd")
frames=$(L2INJECT_RATE=$rate /usr/bin/python3 "$here/l2inject.py" flood veth-peer "$seconds" "$frame")
sleep 1 # let both drain their queues
r1=$(ticks "$receiver") d1=$(ticks "$lldpd")
hz=$(getconf CLK_TCK)
r_ms=$(( (r1 - r0) * 1000 / hz )) d_ms=$(( (d1 - d0) * 1000 / hz ))
echo "frames sent: $frames in ${seconds}s"
echo "lldprecv: ${r_ms} ms CPU, $(( r_ms * 1000000 / frames )) ns a frame"
echo "lldpd:    ${d_ms} ms CPU, $(( d_ms * 1000000 / frames )) ns a frame"
awk -v r="$r_ms" -v d="$d_ms" 'BEGIN { if (d > 0) printf "ratio lldprecv/lldpd: %.2f\n", r / d; else print "ratio: lldpd used no measurable CPU" }'
