#!/usr/bin/env bash
# Applying profiles end to end: the real druvel keeps its profiles in the
# configuration manager stand-in and writes them through the driver's device
# host into the chip simulator on a veth peer, whose trace shows every write
# in order; portop powers the port on (booting the chip from a generated
# package), enables, disables and loops it back; bdset asks the driver.
#   profile_apply.sh DEVHOST VDSLREQ CHIPSIM CHIPSIMCTL DRUVEL MKIMAGE MKPACKAGE
set -euo pipefail
. "$(dirname "$0")/../vdsl/common.sh"
druvel=$5 mkimage=$6 mkpackage=$7

one_cpu

line_oids="0.9.1 0.9.35 0.9.27 0.10.14 0.9.5 0.9.36 0.9.35 0.9.16 0.9.17 0.9.18 0.9.19 0.9.20 0.9.21
  2.1.9 2.1.9 2.1.9 0.10.12 1.1.1 0.9.45 0.11.2 0.11.3 0.11.2.2 0.11.3.2 0.11.2.3 0.11.3.3 0.11.2.4 0.11.3.4
  0.9.37 0.9.38 0.9.39 0.9.40 0.9.41 0.9.42 0.9.43 0.9.6 3.1.39 0.9.7 0.9.8 0.9.9 0.9.10 0.9.11 0.9.12 0.9.13
  0.9.14 0.9.15 0.9.25 0.9.26 0.10.4 0.10.5 0.10.2 0.10.3 0.1.10 1.1.69 0.9.57 1.1.5"
chan_oids="0.12.2 0.12.3 0.12.6 0.12.7 0.12.10 0.12.11 0.12.12 0.12.13 0.12.14 0.12.15"
# name[ADDR]: the entry at a chip address of the image.
declare -A name addr
while read -r entry a _; do name[${a#0x}]=$entry; addr[$entry]=$a; done < <(
  "$mkimage" /tmp/bindrv.bin /tmp/chip-setup $(tr ' ' '\n' <<< "$line_oids $chan_oids" | sort -u))

mount -t tmpfs tmpfs /lib/firmware
"$mkpackage" /lib/firmware/firmware_package.b --default 1 --bindrv /tmp/bindrv.bin \
  --image-setup /tmp/chip-setup --image-setup /tmp/chip-setup \
  --profile SYS_first 0.9.1=000001 --profile SYS_second 0.9.1=000002 --profile BND_b1 0.9.35=40 \
  --profile VNS_v1 0.9.27=000003 --profile PSD_p1 0.10.14=5003e8 --profile RFI_r1 0.9.5=000004 \
  --profile DPB_d1 0.9.36=000005 --profile IOT_0 1.1.5=000000

start_chip --setup /tmp/chip-setup   # held in its boot loader until portop 5
start_devhost
/bin/cfgmgr -w "EBM_BOOT_IF_P1=$mgt"

# shell LINES: druvel in clean mode (every level shown) with these lines.
shell() { rc=0; out=$(printf '%s\n' "$@" | "$druvel" clean 2>&1) || rc=$?; }
has() { grep -qF -- "$1" <<< "$out" || fail "no \"$1\" in: $out"; }
key() { /bin/cfgmgr -r "$1" || true; }
mark() { wc -l < /tmp/chip-trace; }
# writes_since N: "ENTRY VALUE" of every management write after trace line N.
writes_since() {
  tail -n +"$(( $1 + 1 ))" /tmp/chip-trace | while read -r _ hex; do
    [ "${hex:24:8}" = 61200007 ] || continue
    (( 0x${hex:32:2} & 0x20 )) || continue
    a=${hex:34:4}
    echo "${name[$a]:-0x$a} ${hex:38:6}"
  done
}
profile_writes() { writes_since "$1" | grep -v '^0x' || true; }

shell "util mgt-iface 1 $mgt" \
  "profiles line-template new T" "profiles line-profile new L" "profiles chan-profile new C" \
  "profiles alarm-template new A" "profiles line-template set line-profile T L" \
  "profiles line-template set chan-profile T C" "profiles line-profile set raModeUs L 3" quit
[ "$rc" = 0 ] || fail "making the profiles: $out"
[ "$(key LINE_TEMPLATE_INDEX)" = 1 ] || fail "templates not saved"

# Power on as the central office end: firmware, then both templates.
/bin/cfgmgr -w PORT1_MODE=CO
/bin/cfgmgr -w "V_DISABLE_P1=#"
/bin/cfgmgr -w port1_map_profile=T@A
shell "util portop 5 1"
has "Loading binary driver complete."
[ "$(bench state)" = "ok running" ] || fail "portop 5 left the chip $(bench state)"
[ "$(key V_POWEROFF_P1)" = "#" ] || fail "V_POWEROFF_P1 not set"
[ "$(key port1_map_profile)" = T@A ] || fail "map after portop 5: $(key port1_map_profile)"
log "portop 5 (CO) booted the chip and applied T and A"

# line-template: disconnect, the writes in table order, reconnect, the map.
bench poke x "${addr[2.1.9]}" 0x000100 > /dev/null
bench poke x "${addr[0.10.12]}" 0x123456 > /dev/null
/bin/cfgmgr -w port1_map_profile=old@A
shell "profiles port set line-template 1 T"
has "Port1 Enabled..."
n=$(mark)
shell "profiles port set line-template 1 T"
got=$(profile_writes "$n")
want=$(for o in $line_oids $chan_oids; do echo "$o"; done)
[ "$(cut -d' ' -f1 <<< "$got")" = "$want" ] || fail "writes out of order:
$(diff <(echo "$want") <(cut -d' ' -f1 <<< "$got") || true)"
grep -A1 -x '0.9.6 000002' <<< "$got" | tail -1 | grep -qx '3.1.39 000001' \
  || fail "3.1.39 does not follow 0.9.6 with 1: $got"
[ "$(bench peek x "${addr[2.1.9]}")" = "ok 600000" ] || fail "TwConfig bits: $(bench peek x "${addr[2.1.9]}")"
[ "$(bench peek x "${addr[0.10.12]}")" = "ok 123400" ] || fail "us0 bits: $(bench peek x "${addr[0.10.12]}")"
[ "$(key port1_map_profile)" = T@A ] || fail "map: $(key port1_map_profile)"
all=$(writes_since "$n")
[[ "$(head -1 <<< "$all")" == 0x* ]] || fail "the port was not disconnected before the writes: $all"
[[ "$(tail -1 <<< "$all")" == 0x* ]] || fail "the port was not connected after the writes: $all"
log "line-template wrote $(wc -l <<< "$got") entries in table order, 3.1.39 after 0.9.6, bits kept"

# A port not enabled stays down, reconnect flag 0 does not touch it.
/bin/cfgmgr -w V_DISABLE_P1=
shell "profiles port set line-template 1 T"
has "Port1 Not Enabled..."
n=$(mark)
shell "profiles port set line-template 1 T 0"
[ "$(writes_since "$n" | grep -c '^0x' || true)" = 0 ] || fail "reconnect flag 0 touched the port"
grep -q "Enabled" <<< "$out" && fail "flag 0 printed: $out"
log "disabled port stays down; flag 0 leaves the port alone"

# A failed read of 2.1.9 writes nothing there. The stored profile's values
# before it fail in the driver without a frame, so the read is the first.
/bin/cfgmgr -w LINE_TEMPLATE_INDEX=1@9
/bin/cfgmgr -w VdslLineTemplates9=rmw@rmw@none
vals=none@none@none@none@none@none@zz@zz@zz@zz@zz@zz@zz@on@on@on
for _ in $(seq 38); do vals=$vals@zz; done
/bin/cfgmgr -w LINE_PROFILE_INDEX=1@9
/bin/cfgmgr -w "VdslLineProfiles9=rmw@$vals"
bench poke x "${addr[2.1.9]}" 0x000001 > /dev/null
n=$(mark)
bench fault silent 3 > /dev/null
shell "profiles port set line-template 1 rmw 0"
has "Error setting MIB value."
twc=$(writes_since "$n" | grep -c '^2.1.9 ' || true)
[ "$twc" = 2 ] || fail "2.1.9 written $twc times after a failed read: $(writes_since "$n")"
[ "$(bench peek x "${addr[2.1.9]}")" = "ok 600001" ] || fail "2.1.9 holds $(bench peek x "${addr[2.1.9]}")"
log "a failed 2.1.9 read skips that write; the other two build on the chip's word"

# Port operations and their keys.
shell "util portop 1 1" "util portop 10 1"
has "Enabling Port1..."
has "Enabling Loop Back..."
[ "$(key V_DISABLE_P1)" = "#" ] || fail "V_DISABLE_P1 after portop 1: $(key V_DISABLE_P1)"
sleep 0.2   # the chip takes the loop-back command in its own time
shell "show loop-back 1"
has "Loop-Back mode: Enable"
shell "util portop 11 1" "util portop 2 1" "util bdset 8 1" "util portop 1 0"
has "Disabling Loop Back..."
has "Disabling Port1..."
has "Queried auto reset is 1"
has "Port number process error!!"
sleep 0.2
shell "show loop-back 1"
has "Loop-Back mode: Disable"
[ "$(key V_DISABLE_P1)" = "" ] || fail "V_DISABLE_P1 after portop 2: $(key V_DISABLE_P1)"
log="/var/run/cfgmgr/argv.log"
grep -qx '"-w" "V_DISABLE_P1=#"' "$log" || fail "portop 1 did not write V_DISABLE_P1=#"
grep -qx '"-w" "V_DISABLE_P1="' "$log" || fail "portop 2 did not clear V_DISABLE_P1"
log "portop 1, 2, 10, 11 and bdset 8"

# Power on as the customer end: firmware 2, then the port enabled.
/bin/cfgmgr -w PORT1_MODE=CPE
shell "util portop 5 1"
has "Enabling Port1..."
[ "$(key V_DISABLE_P1)" = "#" ] || fail "CPE power-on did not enable the port"
[ "$(bench state)" = "ok running" ] || fail "CPE power-on left the chip $(bench state)"
# Power off: the flag cleared and a reset pulse back to the boot loader.
shell "util portop 6 1"
has "Port 1 has reset."
[ "$(key V_POWEROFF_P1)" = "" ] || fail "V_POWEROFF_P1 after portop 6"
[ "$(bench state)" = "ok boot" ] || fail "portop 6 left the chip $(bench state)"
log "portop 5 (CPE) and 6"
echo PASS
