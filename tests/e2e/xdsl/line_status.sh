#!/usr/bin/env bash
# Line status end to end: the real druvel, the driver's device host and the
# chip simulator on a veth peer; entries poked at the image's addresses.
#   line_status.sh DEVHOST VDSLREQ CHIPSIM CHIPSIMCTL DRUVEL MKIMAGE
set -euo pipefail
. "$(dirname "$0")/../vdsl/common.sh"
druvel=$5 mkimage=$6

one_cpu

declare -A addr
entries=(2.1.5 2.1.1 0.1.26 0.3.2 0.3.2.3 0.2.4.10 2.1.117.1 0.1.31.1 2.1.329 2.1.330 2.1.345 2.1.346
         3.2.12 3.2.42 0.16.4.1 0.16.4.2 0.16.12.1 0.16.12.2 0.1.35 3.1.45
         0.7.1.1 0.7.1.2 0.7.2.1 0.7.2.2 0.7.3.1 0.7.3.2 0.7.4.1 0.7.4.2 0.7.5.1 0.7.5.2 0.7.6.1 0.7.6.2 0.7.7.1 0.7.7.2)
while read -r entry a _; do addr[$entry]=$a; done < <("$mkimage" /tmp/bindrv.bin /tmp/chip-setup "${entries[@]}")

start_chip --running --setup /tmp/chip-setup
start_driver /tmp/bindrv.bin

shell() { rc=0; out=$("$druvel" "$1" 2>&1) || rc=$?; }
has() { grep -qxF -- "$1" <<< "$out" || fail "no line \"$1\" in: $out"; }
poke() { bench poke x "${addr[$1]}" "$2" > /dev/null; }
# poke_text ENTRY HEX: bytes into the entry's words, three a word.
poke_text() {
  local a=$(( addr[$1] )) hex=$2 i
  while (( ${#hex} % 6 )); do hex+=0; done
  for ((i = 0; i < ${#hex}; i += 6)); do bench poke x $(( a + i / 6 )) "0x${hex:i:6}" > /dev/null; done
}
text_hex() { printf '%s' "$1" | od -An -v -tx1 | tr -d ' \n'; }

# Showtime on the office side, firmware 130000.
poke 2.1.5 0x000300
poke 0.1.26 0x30
poke 0.3.2 40000
poke 0.3.2.3 0x7fffff
poke 0.2.4.10 0xfffffe
poke 2.1.1 130000
poke 2.1.117.1 3600
poke 2.1.329 6
poke 2.1.330 32
poke 2.1.345 33
poke 2.1.346 859
poke 3.2.12 7
poke 3.2.42 8
/bin/cfgmgr -w "V_DISABLE_P1=#"

shell "show status 1"
[ "$rc" = 0 ] || fail "show status failed: $out"
has "Status (Basic) of Line 1: Showtime"
has "Profile: 12a"
has "Actual Data Rate        |40000                    (US) Kb/s"
has "Actual Data Rate        |NA                       (DS) Kb/s"
has "SNR Margin              |-2                       (US) 0.1dB"
has "Link Time               |3600                     second(s)"
has "Firmware Version        |01fbd0"
has "US0: 0006(   6) - 0020(  32)"
has "DS1: 0021(  33) - 035b( 859)"
has "Showtime CV             |7             NA             "
grep -q FAILED <<< "$out" && fail "a read failed: $out"
log "showtime: profile 12a, NA for 0x7FFFFF, -2 for 0xFFFFFE, link time, band plan"

poke 2.1.5 0x000301
poke 2.1.1 129999
shell "show status 1"
has "Showtime CV             |NA            8              "
has "Link Time               |0                        second(s)"
log "remote side: the upstream far-end column is NA; firmware 129999 shows link time 0"

/bin/cfgmgr -w "V_DISABLE_P1="
shell "show status 1"
has "Status (Basic) of Line 1: Disable"
/bin/cfgmgr -w "V_DISABLE_P1=#"
echo "show status 1" > /tmp/status.cli
shell /tmp/status.cli
[ "$out" = ">>show status 1
US0: 0006(   6) - 0020(  32)
DS1: 0021(  33) - 035b( 859)
US1: 0000(   0) - 0000(   0)
DS2: 0000(   0) - 0000(   0)
US2: 0000(   0) - 0000(   0)
DS3: 0000(   0) - 0000(   0)
US3: 0000(   0) - 0000(   0)
DS4: 0000(   0) - 0000(   0)
US4: 0000(   0) - 0000(   0)" ] || fail "script mode printed: $out"
log "an empty V_DISABLE_P1 shows Disable; a script shows only the echo and the band plan"

# A read left unanswered: slow replies, then silence for one exchange
# (the driver's three sends) once the advanced rows are under way.
before=$(bench stats | sed 's/.*requests=\([0-9]*\).*/\1/')
shell "show status 1"
per_run=$(( $(bench stats | sed 's/.*requests=\([0-9]*\).*/\1/') - before ))
bench fault delay 20 > /dev/null
start=$(bench stats | sed 's/.*requests=\([0-9]*\).*/\1/')
"$druvel" "show status 1" > /tmp/failed.out 2>&1 & shell_pid=$!
until [ $(( $(bench stats | sed 's/.*requests=\([0-9]*\).*/\1/') - start )) -ge $(( per_run / 2 )) ]; do
  sleep 0.005
done
bench fault silent 3 > /dev/null
wait "$shell_pid" || fail "show status failed with an unanswered read: $(cat /tmp/failed.out)"
bench fault none > /dev/null
out=$(cat /tmp/failed.out)
[ "$(grep -c FAILED <<< "$out")" = 1 ] || fail "not one FAILED row: $out"
failed_row=$(grep FAILED <<< "$out")
[ "$(sed -n '/Status (Advance)/,$p' <<< "$out" | grep -c FAILED)" = 1 ] || fail "FAILED before the advanced rows: $out"
has "Total FEC               |0             0              "
log "$per_run frames a run; an unanswered read shows: $failed_row"

# The state read itself unanswered: the Error lines.
bench fault silent 6 > /dev/null
shell "show status 1"
bench fault none > /dev/null
[ "$rc" = 1 ] || fail "show status with no state answered $rc"
has "Status of Line 1: Error"
log "an unanswered state read shows the Error lines"

# Counters with both elapsed-time forms.
poke 0.16.4.1 899
poke 0.16.12.1 86399
poke 0.16.12.2 3661
shell "show pm-line-curr 1"
has "15M Elapsed time    |14 mins 59 secs         0 mins 0 secs           "
has "1Day Elapsed time   |23 hours 59 mins 59 secs1 hours 1 mins 1 secs   "
shell "show lineband 1"
[ "$(grep -c '^Band ID ' <<< "$out")" = 11 ] || fail "not eleven blocks: $out"
# The capture drops the last block's empty line.
[ "$(grep -c "^$" <<< "$out")" = 10 ] || fail "blocks not apart: $out"
log "pm-line-curr shows minutes and hours; lineband shows eleven blocks"

# The PSD expansions: a rising segment, then a band edge and the gap after it.
poke_text 0.1.35 "$(printf '%06x%06x%06x%06x' 100 500 104 540)"
shell "show line 1 psd"
has " 100|-90.0   101|-89.0   102|-88.0   103|-87.0  "
poke 3.1.45 0x0c8000
poke_text 0.1.35 "$(printf '%06x%06x%06x%06x%06x%06x%06x%06x' 198 500 200 500 205 500 0 0)"
shell "show line 1 psd"
has " 198|-90.0   199|-90.0   200|-90.0   201|-100.0  202|-100.0  203|-100.0  204|-100.0 "
log "line psd: 100-103 at -90.0 to -87.0; the gap 201-204 at -100.0"

# The three inventory version forms: another vendor's text, the octet
# groups, and base 62.
for end in 1 2; do
  poke 0.7.1.$end $end
  poke_text 0.7.2.$end "b500$(text_hex BDCM)"
  poke 0.7.6.$end 0
  poke_text 0.7.7.$end 000102030405
done
poke_text 0.7.3.1 "0001$(text_hex ABCD)"
poke_text 0.7.4.1 "$(text_hex V1.2)"
poke_text 0.7.5.1 "$(text_hex SSSSSSSSSSSSSSSSSSSSSSSSSSSSSSSS)"
poke_text 0.7.3.2 "0001$(text_hex SORV)"
poke_text 0.7.4.2 01020312aabbccddeeff001122334455
poke_text 0.7.5.2 "$(text_hex RT-42)"
shell "show invent 1"
has "version no.               |V1.2                "
has "serial no.                |SSSSSSSSSSSSSSSSSSSSSSSSSSSSSSSS        "
has "version no.               |010203_12AABB_CCDDEE_FF001122334455"
has "Systemvendorid            |Country code:0001,Vendor=SORV                                    "
poke_text 0.7.4.2 "$(text_hex 'bBaz9!c')"
shell "show invent 1"
has "version no.               |1_1674_1611_3784"
has "raw version no.           |bBaz9!c             "
log "inventory: the raw text, the octet groups and the base-62 numbers"

shell "util phystatus 1"
[ "$rc" = 0 ] && [ -z "$out" ] || fail "phystatus in one-shot mode: $rc \"$out\""
log "util phystatus is silent in one-shot mode"
echo PASS
