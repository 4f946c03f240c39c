#!/usr/bin/env bash
# Benchmark (not a test): "show status 1" beside the one-word MIB read rate
# that bench_mib_reads.sh measures in the same run. A status display is
# about 130 reads; it should cost no more than 1.3 times as many single
# reads, and less than half a second.
#   bench_show_status.sh BUILD_DIR [RUNS]
# Use a release build (cmake -DCMAKE_BUILD_TYPE=Release); needs root.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [ "${1:-}" != --inside ]; then
  build=$(cd "${1:?usage: bench_show_status.sh BUILD_DIR [RUNS]}" && pwd)
  runs=${2:-50}
  rate=$("$here/bench_mib_reads.sh" "$build" 3000 | sed -n 's/^druvel show oid: .*: \([0-9]*\) reads\/s$/\1/p')
  [ -n "$rate" ] || { echo "bench_mib_reads.sh gave no rate" >&2; exit 1; }
  export FW_BUILD_DIR=$build
  exec "$here/../../harness/nsrun" --file /bin/cfgmgr="$build/platform/cfgmgr/cfgmgr" -- \
    bash "$here/bench_show_status.sh" --inside "$runs" "$rate" \
    "$build/xdsl/driver/vdsl_devhost" "$build/xdsl/driver/vdslreq" "$build/platform/chipsim/chipsim" \
    "$build/platform/chipsim/chipsimctl" "$build/xdsl/shell/druvel" "$build/xdsl/driver/vdsl_mkimage"
fi
runs=$2 rate=$3
shift 3
. "$here/../vdsl/common.sh"
druvel=$5 mkimage=$6

# One CPU for the whole chain, as bench_mib_reads.sh runs it.
if [ "${BENCH_CPUS:-one}" = one ]; then
  one_cpu
fi

declare -A addr
while read -r entry a _; do addr[$entry]=$a; done < <("$mkimage" /tmp/bindrv.bin /tmp/chip-setup 2.1.5 2.1.330)
start_chip --untraced --running --setup /tmp/chip-setup
start_driver /tmp/bindrv.bin
bench poke x "${addr[2.1.5]}" 0x300 > /dev/null     # showtime: every row is read
bench poke x "${addr[2.1.330]}" 32 > /dev/null
/bin/cfgmgr -w "V_DISABLE_P1=#"

for _ in $(seq "$runs"); do echo "show status 1"; done > /tmp/status.txt
"$druvel" clean < /tmp/status.txt > /dev/null        # warm-up
frames0=$(bench stats | sed 's/.*requests=\([0-9]*\).*/\1/')
t0=$(date +%s%N)
"$druvel" clean < /tmp/status.txt > /tmp/status.out
t1=$(date +%s%N)
frames=$(( ($(bench stats | sed 's/.*requests=\([0-9]*\).*/\1/') - frames0) / runs ))
shown=$(grep -c '^Status (Basic) of Line 1: Showtime$' /tmp/status.out || true)
[ "$shown" = "$runs" ] || fail "only $shown of $runs displays"
grep -q FAILED /tmp/status.out && fail "a read failed"
us=$(( (t1 - t0) / 1000 / runs ))
reads_us=$(( frames * 1000000 / rate ))
echo "show status 1: $us us a display, $frames reads each"
echo "the same reads at $rate reads/s (bench_mib_reads.sh): $reads_us us"
awk -v a="$us" -v b="$reads_us" 'BEGIN { printf "ratio: %.2f (limit 1.30); under 0.5 s: %s\n", a / b, a < 500000 ? "yes" : "no" }'
