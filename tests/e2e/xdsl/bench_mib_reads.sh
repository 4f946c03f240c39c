#!/usr/bin/env bash
# Benchmark (not a test): one-word MIB reads per second through the whole
# chain - a druvel process running "interface xdsl show oid" lines, the
# device host's transport, the driver, management frames on a veth and the
# chip simulator answering at once.
#   bench_mib_reads.sh BUILD_DIR [READS]
# Use a release build (cmake -DCMAKE_BUILD_TYPE=Release); needs root.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [ "${1:-}" != --inside ]; then
  build=$(cd "${1:?usage: bench_mib_reads.sh BUILD_DIR [READS]}" && pwd)
  reads=${2:-5000}
  # nsrun keeps $FW_BUILD_DIR in sight, also under /tmp (its /tmp is new).
  export FW_BUILD_DIR=$build
  exec "$here/../../harness/nsrun" --file /bin/cfgmgr="$build/platform/cfgmgr/cfgmgr" -- \
    bash "$here/bench_mib_reads.sh" --inside "$reads" \
    "$build/xdsl/driver/vdsl_devhost" "$build/xdsl/driver/vdslreq" "$build/platform/chipsim/chipsim" \
    "$build/platform/chipsim/chipsimctl" "$build/xdsl/shell/druvel" "$build/xdsl/driver/vdsl_mkimage"
fi
reads=$2
shift 2
. "$here/../vdsl/common.sh"
druvel=$5 mkimage=$6

# One CPU for the whole chain, as on the board (BENCH_CPUS=all to leave it
# free): on a virtual machine a wake-up across CPUs costs more than a request.
if [ "${BENCH_CPUS:-one}" = one ]; then
  one_cpu
fi

addr=$("$mkimage" /tmp/bindrv.bin /tmp/chip-setup 2.1.9 | cut -d' ' -f2)
start_chip --untraced --running --setup /tmp/chip-setup
start_driver /tmp/bindrv.bin
bench poke x "$addr" 0x123456 > /dev/null

for _ in $(seq "$reads"); do echo "interface xdsl show oid 1 2.1.9"; done > /tmp/reads.txt
# Clean mode takes its lines from standard input and prints every answer.
"$druvel" clean < /tmp/reads.txt > /dev/null        # warm-up
t0=$(date +%s%N)
${BENCH_WRAP:-} "$druvel" clean < /tmp/reads.txt > /tmp/reads.out
t1=$(date +%s%N)
got=$(grep -c 'MIB2 value: 123456$' /tmp/reads.out || true)
[ "$got" = "$reads" ] || fail "only $got of $reads reads answered 123456"
ns=$(( t1 - t0 ))
echo "druvel show oid: $reads one-word reads in $(( ns / 1000000 )) ms: $(( reads * 1000000000 / ns )) reads/s"

t0=$(date +%s%N)
"$vdslreq" 0x7610 --str 1 2.1.9 --repeat "$reads" > /dev/null
t1=$(date +%s%N)
echo "driver alone (0x7610 from one process): $(( reads * 1000000000 / (t1 - t0) )) reads/s"
