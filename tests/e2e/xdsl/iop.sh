#!/usr/bin/env bash
# Interoperability fix sets end to end: the real druvel writes a set under
# /etc/config/iop/ and applies it to the simulated chip through the driver.
#   iop.sh DEVHOST VDSLREQ CHIPSIM CHIPSIMCTL DRUVEL MKIMAGE
set -euo pipefail
. "$(dirname "$0")/../vdsl/common.sh"
druvel=$5 mkimage=$6

declare -A addr
while read -r entry a _; do addr[$entry]=$a; done < <(
  "$mkimage" /tmp/bindrv.bin /tmp/chip-setup 2.1.440 2.1.441 2.1.444 2.1.445 2.1.446 2.1.447)
start_chip --running --setup /tmp/chip-setup
start_devhost
expect_result 0 0x7660 --size 64 --str 0 "$mgt"
expect_result 0 0x7632 --hex 0 0003
load_bindrv /tmp/bindrv.bin 0

# A writable /etc of this scenario's own: the host's stays as it is.
mkdir -p /tmp/etc-up /tmp/etc-work
mount -t overlay overlay -o lowerdir=/etc,upperdir=/tmp/etc-up,workdir=/tmp/etc-work /etc
mkdir -p /etc/config/iop

shell() { rc=0; out=$("$druvel" "$1" 2>&1) || rc=$?; }
peek() { bench peek x "${addr[$1]}"; }

shell "interface xdsl iop update 1 s 25 1 1000 3 1"
[ "$rc" = 0 ] || fail "update answered $rc: $out"
[ "$(cat /etc/config/iop/s.iop)" = $'3 1\n25 1 1000' ] || fail "s.iop holds: $(cat /etc/config/iop/s.iop)"
log "update wrote the set in id order"

bench poke x "${addr[2.1.445]}" 0x000077 > /dev/null
bench poke x "${addr[2.1.440]}" 0x000100 > /dev/null
shell "interface xdsl iop apply 1 s"
[ "$rc" = 0 ] || fail "apply answered $rc: $out"
for want in "2.1.440 000004" "2.1.441 000001" "2.1.444 0003e8" "2.1.445 000000" "2.1.446 000000" "2.1.447 000000"; do
  set -- $want
  [ "$(peek "$1")" = "ok $2" ] || fail "$1 holds $(peek "$1") after apply"
done
[ "$(/bin/cfgmgr -r PORT1_CURR_IOP_CONF)" = /etc/config/iop/s.iop ] || fail "key: $(/bin/cfgmgr -r PORT1_CURR_IOP_CONF)"
log "apply cleared every fix, set the file's and recorded the set"

shell "interface xdsl iop update 1 t 1 1"
shell "interface xdsl iop list 1"
grep -qxF "    *    | s" <<< "$out" || fail "list did not mark s: $out"
grep -qxF "         | t" <<< "$out" || fail "list did not show t: $out"

shell "interface xdsl iop update 1 ../escaped 1 1"
[ "$rc" = 1 ] || fail "a name out of the directory was taken: $out"
[ ! -e /etc/config/escaped.iop ] || fail "update wrote outside /etc/config/iop/"
log "list marks the applied set; names stay inside the directory"
echo PASS
