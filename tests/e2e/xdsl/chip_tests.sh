#!/usr/bin/env bash
# The chip test utilities and the service record end to end: the real
# druvel, the driver's device host and the chip simulator on a veth peer.
#   chip_tests.sh DEVHOST VDSLREQ CHIPSIM CHIPSIMCTL DRUVEL MKIMAGE
set -euo pipefail
. "$(dirname "$0")/../vdsl/common.sh"
druvel=$5 mkimage=$6

declare -A addr
while read -r entry a _; do addr[$entry]=$a; done < <("$mkimage" /tmp/bindrv.bin /tmp/chip-setup 2.1.5 3.1.11 3.1.12)
start_chip --running --setup /tmp/chip-setup
start_devhost
expect_result 0 0x7660 --size 64 --str 0 "$mgt"
expect_result 0 0x7632 --hex 0 0003
load_bindrv /tmp/bindrv.bin 0

shell() { rc=0; out=$("$druvel" "$1" 2>&1) || rc=$?; }
# clean LINE: druvel in clean mode, where the memory test's narrowed mask
# still shows its lines.
clean() { rc=0; out=$(echo "$1" | "$druvel" clean 2>&1) || rc=$?; }
has() { grep -qxF -- "$1" <<< "$out" || fail "no line \"$1\" in: $out"; }
peek() { bench peek "$1" "$2"; }

# Memory words: two written at the end of the word space, read back.
shell "util mem 2 1 1 fffe 5 123456"
[ "$rc" = 0 ] || fail "mem 2 answered $rc: $out"
[ -z "$out" ] || fail "one-shot mode narrowed to nothing, yet mem 2 printed: $out"
[ "$(peek y 0xfffe)" = "ok 123456" ] && [ "$(peek y 0xffff)" = "ok 123456" ] || fail "mem 2 left $(peek y 0xfffe)"
bench poke x 0x20 0xabcdef > /dev/null
clean "util mem 1 1 0 20 1"
has "test id=1,portid=0,memtype=0,address=0x000020,count=0x000001"
has "Address:000020 Data:abcdef =="
shell "util mem 4 1 0 ff 1"
[ "$rc" = 1 ] || fail "mem 4 was not refused: $rc $out"
log "mem: written, read back, award memory refused"

clean "util firmver 1"
has "xDSLDriverVersion=1.7.9-37 - 201904102211"
has "1.7.9-37"
log "firmver: the driver's version and build stamp"

# Packet counters of a far-end chip are cleared in the RT pair.
bench poke x "${addr[2.1.5]}" 0x000001 > /dev/null
shell "util misc pktcount clear 1"
[ "$out" = "Clear pkt count..."$'\n'"Clear Success!!" ] || fail "pktcount clear printed: $out"
bench poke x "${addr[3.1.11]}" 0x000123 > /dev/null
shell "util misc pktcount show 1 otrx"
[ "$out" = "MIB2 value: 00000123" ] || fail "pktcount show printed: $out"
log "pktcount: cleared and shown"

# The service record through the boot interface's driver.
/bin/cfgmgr -w "EBM_BOOT_IF_P1=$mgt"
bench service tag ST-42 > /dev/null
shell "show serviceinfo"
want="     servicetag: ST-42
    servicehost: service.sim
    servicepass: simpass
        zmohwid: ZMO-SIM-01
       checksum: 0123456789abcdef0123456789abcdef"
[ "$out" = "$want" ] || fail "serviceinfo printed: $out"
shell "show zmohwid"
[ "$out" = "ZMO-SIM-01" ] || fail "zmohwid printed: $out"
bench service refuse on > /dev/null
shell "show servicetag"
[ "$rc" = 1 ] && [ "$(head -1 <<< "$out")" = "Error getting Service Info" ] || fail "a refused record: $rc $out"
log "service record shown whole and by field; a refusing driver answers 100"
echo PASS
