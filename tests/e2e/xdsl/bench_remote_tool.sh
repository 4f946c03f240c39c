#!/usr/bin/env bash
# Benchmark (not a test): the remote-tool service beside the shell's own MIB
# reads in the same run - opcode 3 requests per second against
# "interface xdsl show oid" lines (bench_mib_reads.sh's measure), and file
# transfer both ways on loopback.
#   bench_remote_tool.sh BUILD_DIR [READS]
# Use a release build (cmake -DCMAKE_BUILD_TYPE=Release); needs root.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [ "${1:-}" != --inside ]; then
  build=$(cd "${1:?usage: bench_remote_tool.sh BUILD_DIR [READS]}" && pwd)
  export FW_BUILD_DIR=$build
  exec "$here/../../harness/nsrun" --file /bin/cfgmgr="$build/platform/cfgmgr/cfgmgr" -- \
    bash "$here/bench_remote_tool.sh" --inside "${2:-3000}" \
    "$build/xdsl/driver/vdsl_devhost" "$build/xdsl/driver/vdslreq" "$build/platform/chipsim/chipsim" \
    "$build/platform/chipsim/chipsimctl" "$build/xdsl/shell/druvel" "$build/xdsl/driver/vdsl_mkimage"
fi
reads=$2
shift 2
. "$here/../vdsl/common.sh"
druvel=$5 mkimage=$6

if [ "${BENCH_CPUS:-one}" = one ]; then
  taskset -cp "$(taskset -cp $$ | sed 's/.*: //; s/[-,].*//')" $$ > /dev/null
fi
addr=$("$mkimage" /tmp/bindrv.bin /tmp/chip-setup 2.1.9 | cut -d' ' -f2)
start_chip --running --setup /tmp/chip-setup
start_devhost
expect_result 0 0x7660 --size 64 --str 0 "$mgt"
expect_result 0 0x7632 --hex 0 0003
load_bindrv /tmp/bindrv.bin 0
bench poke x "$addr" 0x123456 > /dev/null

# The shell's own reads, as bench_mib_reads.sh measures them.
for _ in $(seq "$reads"); do echo "interface xdsl show oid 1 2.1.9"; done > /tmp/reads.txt
t0=$(date +%s%N)
"$druvel" clean < /tmp/reads.txt > /tmp/reads.out
t1=$(date +%s%N)
shell_rate=$(( reads * 1000000000 / (t1 - t0) ))
echo "druvel show oid: $shell_rate reads/s"

"$druvel" resident > /dev/null 2>&1 &
on_exit kill $!
wait_port tcp 5001 5
head -c 4000000 /dev/urandom > /tmp/blob
PYTHONPATH=$here python3 - "$reads" "$shell_rate" <<'PY'
import sys, time
from remote_tool_client import connect
reads, shell_rate = int(sys.argv[1]), int(sys.argv[2])
t = connect()
want = b"\x00\x08\x00123456\x00"
t0 = time.monotonic()
for _ in range(reads):
    got = t.read_mib(1, "2.1.9")
    assert got == want, got
rate = reads / (time.monotonic() - t0)
print(f"remote tool opcode 3: {rate:.0f} requests/s, {rate / shell_rate:.2f} of druvel show oid "
      f"(wants >= 1000 and >= 0.5)")
data = open("/tmp/blob", "rb").read()
t0 = time.monotonic()
acks = t.put_file("/tmp/up.bin", data)
t.check_header(2)
up = len(data) / (time.monotonic() - t0) / 1000
assert open("/tmp/up.bin", "rb").read() == data
t0 = time.monotonic()
_, _, got, _ = t.get_file("/tmp/blob")
down = len(data) / (time.monotonic() - t0) / 1000
assert got == data
print(f"file transfer: to the board {up:.0f} KB/s, from the board {down:.0f} KB/s (wants >= 200)")
t.end()
PY
t0=$(date +%s%N)
"$druvel" "interface xdsl dump mem 1" > /dev/null
echo "dump mem 1: $(( ($(date +%s%N) - t0) / 1000000 )) ms (wants < 60000)"
