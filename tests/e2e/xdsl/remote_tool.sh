#!/usr/bin/env bash
# The remote-tool service end to end: druvel in resident mode on TCP 5001
# with the driver's device host and the chip simulator behind it, reached by
# a tool written from the protocol's frame tables.
#   remote_tool.sh DEVHOST VDSLREQ CHIPSIM CHIPSIMCTL DRUVEL MKIMAGE MKPACKAGE
set -euo pipefail
. "$(dirname "$0")/../vdsl/common.sh"
druvel=$5 mkimage=$6 mkpackage=$7

declare -A addr
while read -r entry a _; do addr[$entry]=$a; done < <("$mkimage" /tmp/bindrv.bin /tmp/chip-setup 2.1.9 2.1.124)
mount -t tmpfs tmpfs /lib/firmware
"$mkpackage" /lib/firmware/firmware_package.b --default 1 --bindrv /tmp/bindrv.bin \
  --image-setup /tmp/chip-setup --image-setup /tmp/chip-setup \
  --profile SYS_first 0.9.1=000001 --profile BND_b1 0.9.35=40 --profile VNS_v1 0.9.27=000003 \
  --profile PSD_p1 0.10.14=5003e8 --profile RFI_r1 0.9.5=000004 --profile DPB_d1 0.9.36=000005

start_chip --running --setup /tmp/chip-setup
start_devhost
expect_result 0 0x7660 --size 64 --str 0 "$mgt"
expect_result 0 0x7632 --hex 0 0003
load_bindrv /tmp/bindrv.bin 0

mkdir -p /tmp/rt
"$druvel" resident > /tmp/druvel-out 2> /tmp/druvel-err &
on_exit kill $!
wait_port tcp 5001 5
python3 "$(dirname "$0")/remote_tool.py" "$chipsimctl" "$mgt" "${addr[2.1.9]}" "${addr[2.1.124]}" /tmp/rt ||
  fail "remote tool checks failed; druvel said: $(cat /tmp/druvel-err)"
# Connection processes run under the sanitizers: any report fails the run.
sleep 0.3
if grep -q "Sanitizer" /tmp/druvel-err; then fail "sanitizer report: $(cat /tmp/druvel-err)"; fi
kill -0 "$(pgrep -o -x druvel)" 2> /dev/null || fail "the listener died"
echo PASS
