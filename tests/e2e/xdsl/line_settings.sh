#!/usr/bin/env bash
# G.INP and line tuning end to end: the real druvel boots the chip simulator
# from a generated package, then sets retransmission, bit swapping, tone
# blackouts and a user PSD mask that the next download re-applies.
#   line_settings.sh DEVHOST VDSLREQ CHIPSIM CHIPSIMCTL DRUVEL MKIMAGE MKPACKAGE
set -euo pipefail
. "$(dirname "$0")/../vdsl/common.sh"
druvel=$5 mkimage=$6 mkpackage=$7

declare -A addr
while read -r entry a _; do addr[$entry]=$a; done < <(
  "$mkimage" /tmp/bindrv.bin /tmp/chip-setup 2.1.9 3.3.2 3.3.3 3.4.2 3.4.3.1 0.9.4 0.10.8)

mount -t tmpfs tmpfs /lib/firmware
"$mkpackage" /lib/firmware/firmware_package.b --default 1 --version 0102030a0b0c0d0e0f --bindrv /tmp/bindrv.bin \
  --image-setup /tmp/chip-setup --image-records 20 --profile SYS_default 2.1.9=000001

start_chip --setup /tmp/chip-setup
start_devhost
/bin/cfgmgr -w "EBM_BOOT_IF_P1=$mgt"
/bin/cfgmgr -w "V_POWEROFF_P1=#"

shell() { rc=0; out=$("$druvel" "$1" 2>&1) || rc=$?; }
has() { grep -qxF -- "$1" <<< "$out" || fail "no line \"$1\" in: $out"; }
peek() { bench peek x "${addr[$1]}"; }
# peek_words ENTRY N: N words of the entry as one hex text.
peek_words() {
  local a=$(( addr[$1] )) i text=
  for ((i = 0; i < $2; i++)); do text+=$(bench peek x $(( a + i )) | cut -d' ' -f2); done
  echo "$text"
}
requests() { bench stats | sed 's/.*requests=\([0-9]*\).*/\1/'; }

shell "util mgt-iface 1 $mgt"
shell "util dpf 1 1"
[ "$rc" = 0 ] || fail "dpf 1 1 failed: $out"
[ "$(peek 2.1.9)" = "ok 000001" ] || fail "system profile not applied: $(peek 2.1.9)"
log "the chip is booted from the package"

shell "interface xdsl g.inp retran_mode 1 1 1"
[ "$rc" = 0 ] || fail "retran_mode failed: $out"
[ "$out" = "portid=1, us=1, ds=1
MIB value has set.
OID: 3.3.3 - xdslRtxChConfUsRtxMode: 0x000001
MIB value has set.
OID: 3.3.2 - xdslRtxChConfDsRtxMode: 0x000001" ] || fail "retran_mode printed: $out"
[ "$(peek 3.3.3)" = "ok 000001" ] && [ "$(peek 3.3.2)" = "ok 000001" ] || fail "retran_mode not written"
[ "$(/bin/cfgmgr -r G_INP_RETRAN_MODE)" = "1@1" ] || fail "G_INP_RETRAN_MODE not stored"
bench poke x "${addr[3.4.2]}" 0x31 > /dev/null
bench poke x "${addr[3.4.3.1]}" 0xabcd > /dev/null
shell "show g.inp 1"
has "RtxUsed                  3          1"
has "Etr                   abcd          0"
log "retran_mode writes 3.3.3 then 3.3.2 and stores 1@1; the status table reads both ends"

kill "$devhost_pid"
wait "$devhost_pid" 2> /dev/null || true
shell "interface xdsl g.inp retran_mode 1 2 2"
[ "$rc" = 1 ] || fail "retran_mode without the driver answered $rc"
[ "$(grep -c '^Error setting MIB value.$' <<< "$out")" = 2 ] || fail "not two failed writes: $out"
has "OID: 3.3.2 - xdslRtxChConfDsRtxMode: 0x000002"
[ "$(/bin/cfgmgr -r G_INP_RETRAN_MODE)" = "1@1" ] || fail "G_INP_RETRAN_MODE changed without the driver"
shell "interface xdsl g.inp table 1"
[ "$(grep -c ' ffffff     ffffff$' <<< "$out")" = 18 ] || fail "unreadable words not shown as ffffff: $out"
start_driver /tmp/bindrv.bin
log "without the driver: both writes fail, no key; the status table shows ffffff"

# Bit swapping: a word that cannot be read is not written back.
shell "util misc bitSwap 1 us on"
[ "$(peek 2.1.9)" = "ok 200001" ] || fail "bitSwap us on left $(peek 2.1.9)"
before=$(requests)
bench fault silent 3 > /dev/null   # the driver's three sends of one read
shell "util misc bitSwap 1 ds on"
bench fault none > /dev/null
has "Setting MIB value failed."
[ "$(peek 2.1.9)" = "ok 200001" ] || fail "bitSwap wrote after a failed read: $(peek 2.1.9)"
[ $(( $(requests) - before )) = 3 ] || fail "bitSwap went on after its failed read"
log "bitSwap sets its bit; an unanswered read of 2.1.9 writes nothing"

# Tone blackouts: sorted, no overlaps, at most 32 sections.
shell "util misc black_tone 1 100 200"
has "[100, 200] has been blacked out."
shell "util misc black_tone 1 150 300"
has "Overlapped mask not allowed."
shell "util misc black_tone 1 10 20"
[ "$(peek_words 0.9.4 6)" = 00000a0000140000640000c8000000000000 ] || fail "blackout list: $(peek_words 0.9.4 6)"
shell "util misc show_black_tone 1"
has "    1	        10	       20"
has "    2	       100	      200"
before=$(requests)
bench fault silent 3 > /dev/null
shell "util misc black_tone 1 300 400"
bench fault none > /dev/null
has "Getting MIB failed."
[ $(( $(requests) - before )) = 3 ] || fail "black_tone went on after its failed read"
[ "$(peek_words 0.9.4 6)" = 00000a0000140000640000c8000000000000 ] || fail "a failed read changed the list"
for i in $(seq 2 31); do
  shell "util misc black_tone 1 $(( 1000 + 10 * i )) $(( 1005 + 10 * i ))"
done
full=$(peek_words 0.9.4 64)
[ "${full: -12}" != 000000000000 ] || fail "32 sections not reached: $full"
shell "util misc black_tone 1 5000 5001"
[ "$rc" = 1 ] || fail "a 33rd section answered $rc"
grep -q "has been blacked out" <<< "$out" && fail "a 33rd section reported done: $out"
[ "$(peek_words 0.9.4 64)" = "$full" ] || fail "a 33rd section changed the list"
log "black_tone keeps the list sorted, refuses overlaps, unanswered reads and a 33rd section"

# A user PSD mask is stored and re-applied by the next download.
mask=$(for i in $(seq 1 16); do printf '20%04x' $(( 16 * i )); done)
shell "util misc psd-set 1 us $mask"
[ "$rc" = 0 ] || fail "psd-set failed: $out"
[ "$(peek_words 0.10.8 16)" = "$mask" ] || fail "psd-set wrote $(peek_words 0.10.8 16)"
[ "$(/bin/cfgmgr -r USR_PSD_MASK_US_P1)" = "$mask" ] || fail "USR_PSD_MASK_US_P1 not stored"
shell "util misc psd-set 1 us ${mask}00"
has "The PSD mask is illegal."
[ "$(/bin/cfgmgr -r USR_PSD_MASK_US_P1)" = "$mask" ] || fail "a refused mask was stored"
bench poke x "${addr[0.10.8]}" 0 > /dev/null
shell "util dpf 1 1"
[ "$rc" = 0 ] || fail "dpf after psd-set failed: $out"
[ "$(peek_words 0.10.8 16)" = "$mask" ] || fail "dpf did not re-apply the mask: $(peek_words 0.10.8 16)"
log "psd-set stores USR_PSD_MASK_US_P1 and util dpf 1 1 re-applies it"
echo PASS
