#!/usr/bin/env bash
# Chip boot end to end: the real druvel boots the chip simulator on a veth
# peer from a generated firmware package, loads the binary driver image into
# the driver's device host and applies the profile and the ADSL settings.
#   chip_boot.sh DEVHOST VDSLREQ CHIPSIM CHIPSIMCTL DRUVEL MKIMAGE MKPACKAGE
set -euo pipefail
. "$(dirname "$0")/../vdsl/common.sh"
druvel=$5 mkimage=$6 mkpackage=$7
here=$(cd "$(dirname "$0")" && pwd)

declare -A addr
while read -r entry a _; do addr[$entry]=$a; done < <(
  "$mkimage" /tmp/bindrv.bin /tmp/chip-setup 2.1.9 2.1.167 2.1.175 2.1.383 2.1.118 2.1.48 2.1.151 2.1.201)

# The package: image 1 carries the chip words the binary driver image names,
# image 2 is 299 records long; profile 2 is the default.
mount -t tmpfs tmpfs /lib/firmware
pkg=/lib/firmware/firmware_package.b
"$mkpackage" "$pkg" --default 2 --version 0102030a0b0c0d0e0f --bindrv /tmp/bindrv.bin \
  --image-setup /tmp/chip-setup --image-records 299 \
  --profile SYS_first 2.1.9=000001 --profile SYS_default 2.1.9=00abcd

start_chip --setup /tmp/chip-setup   # the boot loader waits: nothing runs yet
ns_exec chip tcpdump -i eth0 -U -w /tmp/boot.pcap 2> /tmp/tcpdump.log &
on_exit kill $!
wait_line /tmp/tcpdump.log listening 5
start_devhost

/bin/cfgmgr -w "EBM_BOOT_IF_P1=$mgt"
/bin/cfgmgr -w "ADSL_PVC0=8@35@100@0@1@0@3@0@0@0@1"
/bin/cfgmgr -w "V_POWEROFF_P1=#"

shell() { rc=0; out=$("$druvel" "$1" 2>&1) || rc=$?; }
peek() { bench peek x "${addr[$1]}"; }
has() { grep -qxF -- "$1" <<< "$out" || fail "no line \"$1\" in: $out"; }

shell "util mgt-iface 1 $mgt"
[ "$rc" = 0 ] || fail "mgt-iface: $out"
[ "$(/bin/cfgmgr -r EBM_MGT_IF_P1)" = "$mgt" ] || fail "EBM_MGT_IF_P1 not stored"

t0=$(ms)
shell "util dpf 1 1"
took=$(( $(ms) - t0 ))
[ "$rc" = 0 ] || fail "dpf 1 1 failed: $out"
has "Sendto Success! : Stop"
has "Loading binary driver complete."
has "Setup ADSL settings"
has "OID: 2.1.167 - CfgSarSegTransP0: 0x080023"
[ "$(bench state)" = "ok running" ] || fail "chip state after dpf: $(bench state)"
[ "$(peek 2.1.9)" = "ok 00abcd" ] || fail "default profile not applied: 2.1.9 holds $(peek 2.1.9)"
[ "$(peek 2.1.167)" = "ok 080023" ] || fail "CfgSarSegTransP0 holds $(peek 2.1.167)"
[ "$(peek 2.1.383)" = "ok 000001" ] || fail "SarPvcSelect holds $(peek 2.1.383)"
[ "$(peek 2.1.48)" = "ok 0001e0" ] || fail "CfgM2Qosfr holds $(peek 2.1.48)"
# Fixed sleeps: the start request's 0.5 s and 1 s before the binary driver.
[ "$took" -lt $(( 1500 + 2000 )) ] || fail "dpf took $took ms"
log "dpf 1 1 booted, loaded the binary driver and applied the settings in $took ms (fixed sleeps 1503 ms)"

own=$(cat "/sys/class/net/$mgt/address")
python3 "$here/boot_frames.py" /tmp/boot.pcap "$pkg" 1 "$own" 02:00:eb:00:00:00 02:00:eb:b0:07:00 \
  || fail "boot frames differ from the table"
log "captured boot frames match the table byte for byte"

shell "util versioninfo 1"
[[ "$out" =~ ^"Header rev: 080516_161934_1_50_4_66_2_2, DSPVer: "[0-9a-f]{6}_[0-9a-f]{6}_[0-9a-f]{6}", FirmwarePackageVer: 010203_0a0b0c_0d0e0f"$ ]] \
  || fail "versioninfo printed: $out"
shell "interface xdsl show oid 1 2.1.9"
[ "$out" = "MIB2 value: 00abcd" ] || fail "show oid after dpf: $out"
shell "interface xdsl set oid 1 2.1.9 123456"
[ "$(peek 2.1.9)" = "ok 123456" ] || fail "set oid after dpf left $(peek 2.1.9)"
log "versioninfo and MIB commands work on the booted chip"

shell "util ebm-access 1 2"
[ "$(grep -E '^(W|R)_count' <<< "$out")" = "W_count:1,value=123456
R_count:1,value=123456
W_count:2,value=112233
R_count:2,value=112233" ] || fail "ebm-access printed: $out"
[ "$(bench peek x 0x6c32)" = "ok 112233" ] || fail "ebm-access word holds $(bench peek x 0x6c32)"
log "ebm-access writes and reads back the chip word"

# A new shell reloads the stored PVCs; a bad one becomes the minimum PVC.
shell "interface xdsl pvc basic 1 1 40 200 0 0 0 1 0 0 0 1"
has "OID: 2.1.168 - CfgSarSegTransP1: 0x010028"
[ "$(/bin/cfgmgr -r ADSL_PVC1)" = "1@40@200@0@0@0@1@0@0@0@1" ] || fail "ADSL_PVC1 not stored"
/bin/cfgmgr -w "ADSL_PVC2=1@20@10@0@1@0@1@0@0@0@1"
/bin/cfgmgr -w "ADSL_PVC3=3@43@10@0@1@0@1@0@0@0@1"
shell "show pvc"
has "Allowed VCI value is 32 - 65535"
has "set PVC 2 minimun and deactivate it"
grep -q "^PVC1     1      40    200 " <<< "$out" || fail "PVC1 not reloaded: $out"
grep -q "^PVC3     3      43     10 " <<< "$out" || fail "PVC3 not loaded after the bad PVC2: $out"
/bin/cfgmgr -d ADSL_PVC2
log "pvc basic stored, reloaded by a new shell; a bad stored PVC is made the minimum"

# A read that finds no answer leaves its entry unwritten; the rest goes on.
bench poke x "${addr[2.1.151]}" 0x00abcd > /dev/null
bench fault silent 3 > /dev/null   # the driver's three sends of one read
shell "interface xdsl pvc vlanop 0 7 1 8 2"
bench fault none > /dev/null
has "Error getting MIB value of 2.1.151: not written."
has "OID: 2.1.201 - CfgSarSegVlanFr: 0x000007"
[ "$(peek 2.1.151)" = "ok 00abcd" ] || fail "CfgSarSegProcP0 written after a failed read: $(peek 2.1.151)"
[ "$(/bin/cfgmgr -r ADSL_PVC0_VLAN_OP)" = "7@1@8@2" ] || fail "ADSL_PVC0_VLAN_OP not stored"
log "a failed read before a SAR write writes nothing for that entry"

# The 299-record image: the sequence byte wraps once.
shell "util dpf 1 2 0"
[ "$(grep -c '^Wrap times = 1$' <<< "$out")" = 1 ] || fail "no single wrap: $out"
grep -q "Wrap times = 2" <<< "$out" && fail "wrapped twice"
log "300 data frames: Wrap times = 1 once"

# An image id the package lacks: the default profile is still applied (on
# the chip booted with the image that matches the binary driver image).
shell "util dpf 1 1 0"
[ "$rc" = 0 ] || fail "dpf 1 1 0 failed: $out"
bench poke x "${addr[2.1.9]}" 0x000000 > /dev/null
shell "util dpf 1 3"
has "No such firmware ID: 3"
[ "$(peek 2.1.9)" = "ok 00abcd" ] || fail "dpf 1 3 did not apply the default profile"
log "dpf 1 3: no such image, default profile applied"

# A port stored as powered off stays held in reset after the download.
/bin/cfgmgr -w "V_POWEROFF_P1="
shell "util dpf 1 1 0"
has "Port1 Power Off!!"
[ "$(bench state)" = "ok held" ] || fail "powered-off chip not held: $(bench state)"
/bin/cfgmgr -w "V_POWEROFF_P1=#"
log "an empty V_POWEROFF_P1 leaves the chip held in reset"

# The driver has no flash handler.
head -c 1300 /dev/urandom > /tmp/flash.bin
shell "util ff /tmp/flash.bin"
[ "$rc" = 1 ] || fail "ff did not fail"
# The one-shot failure prints the usage right after the last step's line.
[ "$(sed -n '/^Flashing firmware/,/^Invalid option/p' <<< "$out" | grep -v '^$')" = "Flashing firmware /tmp/flash.bin...
Erasing Flash Memory...
Invalid option or command or script file \"util ff /tmp/flash.bin\" was not found." ] || fail "ff printed: $out"
grep -q "no such ioctl case 0x7634" /tmp/klog || fail "0x7634 never reached the driver"
log "ff ends after Erasing Flash Memory... (-25 from the driver)"

# df boots from a file: image 1 cut out of the package.
python3 -c '
import sys
pkg = open(sys.argv[1], "rb").read()
word = lambda at: pkg[at] << 16 | pkg[at + 1] << 8 | pkg[at + 2]
open(sys.argv[2], "wb").write(pkg[word(39):word(42)])' "$pkg" /tmp/image1.bin
bench reset low > /dev/null
shell "util df 1 /tmp/image1.bin"
[ "$rc" = 0 ] || fail "df failed: $out"
has "Sendto Success! : Stop"
[ "$(bench state)" = "ok running" ] || fail "chip state after df: $(bench state)"
shell "util df 1 /tmp/none.bin"
has "Firmware file \"/tmp/none.bin\" was not found!!"
log "df boots the chip from a file"

# No boot loader on the line (a peer where nothing runs): ten start
# requests, then the boot gives up.
ns_add_host mute 10.63.0.2/24 10.63.0.1/24
/bin/cfgmgr -w "EBM_BOOT_IF_P1=$(ns_if mute)"
/bin/cfgmgr -d EBM_MGT_IF_P1
/bin/cfgmgr -w "EBM_BOOT_MAC_P1="
t0=$(ms)
shell "util df 1 /tmp/flash.bin"
took=$(( $(ms) - t0 ))
[ "$rc" = 1 ] || fail "df without a loader did not fail"
want=
for i in $(seq 0 9); do want+="No data within 1 seconds."$'\n'"No start request response, try again($i)"$'\n'; done
want+="Tried 10 times for start request, stop"$'\n'"EBM booting failed"
[ "$(sed -n '/^No data within/,/^EBM booting failed/p' <<< "$out")" = "$want" ] || fail "df without a loader printed: $out"
has "No valid MAC, will use the default."
[ "$took" -ge 15000 ] || fail "the boot gave up after only $took ms"
[ "$(/bin/cfgmgr -r EBM_MGT_IF_P1)" = "$(ns_if mute)" ] || fail "the boot interface was not handed to the driver"
log "no loader: ten start requests, then 100 after $took ms"
echo PASS
