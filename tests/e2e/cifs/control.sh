#!/usr/bin/env bash
# The control channel in a namespace of its own: the client functions by the
# control tool's keywords against vxctlhost on 127.0.0.1:4445 with seeded
# clients and open files, raw datagrams from Python, a restart, a stop, and
# a call with nobody listening.
set -euo pipefail
host=$1 client=$2 datagrams=$3
. "$(dirname "$0")/../../harness/lib.sh"
require_scenario_ns

work=$(mktemp -d)
log=$work/host.log
mkdir -p /var/run/cifs
printf 'Music;/mnt/usb1/music;My music\nDocs;/mnt/usb1/docs;Papers\n' > /var/run/cifs/cs_cfg.txt
"$host" --client bob,192.168.1.5,8 --client guest,192.168.1.6,4,guest --client carol,192.168.1.7,2 \
  --open 0,/mnt/usb1/music/a.mp3 --open 2,/mnt/usb1/music/photos,dir > "$log" 2>&1 &
hostpid=$!
on_exit quiet_kill "$hostpid"
wait_line "$log" "VXCTLHOST: ready"

ctl() { "$client" "$@"; }
# The verdict without the time a failure took.
verdict() { "$client" "$@" | cut -d' ' -f1-2; }
last_state() { grep '^state' "$log" | tail -1; }

# ---- shares ---------------------------------------------------------------
expect "ES" "$(ctl ES)" "IPC\$|||-1|IPC Service
Music|/mnt/usb1/music||-1|My music
Docs|/mnt/usb1/docs||-1|Papers
C\$|/var/run/cifs/||-1|Default share
end 0xff07d1"
expect "+S" "$(ctl +S Video /mnt/usb1/video 'Home videos')" ok
expect "ES lists it" "$(ctl ES | grep Video)" "Video|/mnt/usb1/video||-1|Home videos"
expect "-S" "$(ctl -S video)" ok
expect "-S of a share that is gone" "$(verdict -S Video)" "fail 0xff07d1"
expect "-S of the administrative share" "$(verdict -S 'C$')" "fail 0xff07d1"

# ---- users ----------------------------------------------------------------
expect "+U administrator" "$(ctl +U admin 'The Admin' 'Keeps it' 00112233445566778899aabbccddeeff A)" ok
expect "+U with a plain-text password" "$(verdict +U pat Pat '' secret)" "fail 0xff07d1"
expect "EU" "$(ctl EU)" "admin|admin|Administrator|1
end 0xff07d1"
expect "no user pat on file" "$(grep -c '^pat:' /var/run/cifs/pwd_list.txt || true)" 0
expect "-U" "$(ctl -U admin)" ok
expect "EU after -U" "$(ctl EU)" "end 0xff07d1"

# ---- seeded clients and files ---------------------------------------------
expect "EC" "$(ctl EC)" "192.168.1.5|8|bob|0|0|0
192.168.1.6|4|guest|1|0|0
192.168.1.7|2|carol|0|0|0
end 0xff07d1"
expect "EF" "$(ctl EF)" "/mnt/usb1/music/a.mp3|bob|192.168.1.5|0
/mnt/usb1/music/photos|carol|192.168.1.7|1
end 0xff07d1"
expect "C bob" "$(ctl C bob)" ok
wait_line "$log" "closed bob"
expect "EC after C" "$(ctl EC | cut -d'|' -f3)" "guest
carol
end 0xff07d1"
expect "EF after C" "$(ctl EF)" "/mnt/usb1/music/photos|carol|192.168.1.7|1
end 0xff07d1"
expect "C of nobody" "$(verdict C nobody)" "fail 0xff07d1"

# ---- switches ---------------------------------------------------------------
expect "SEL" "$(ctl SEL 8)" ok
expect "methods switched" "$(last_state | grep -o 'methods=[^ ]*')" "methods=0x8"
expect "MSG" "$(ctl MSG 2)" ok
expect "signing required" "$(last_state | grep -o 'signing=[^ ]*')" "signing=1/1"
expect "MSG out of range" "$(verdict MSG 3)" "fail 0xff07d1"
expect "setpermissive 1" "$(ctl setpermissive yes)" ok
expect "permissive on" "$(last_state | grep -o 'permissive=[^ ]*')" "permissive=1"
expect "setpermissive 0" "$(ctl setpermissive no)" ok
wait_line "$log" "dropped every client"
expect "no client after permissive 0" "$(ctl EC)" "end 0xff07d1"
expect "no open file after permissive 0" "$(ctl EF)" "end 0xff07d1"

# ---- raw datagrams ----------------------------------------------------------
/usr/bin/python3 "$datagrams" || fail "raw datagrams"

# ---- restart ----------------------------------------------------------------
expect "+S before the restart" "$(ctl +S Video /mnt/usb1/video v)" ok
expect "R" "$(ctl R)" ok
wait_line "$log" "restarted"
expect "the added share is gone" "$(ctl ES | grep -c Video || true)" 0
expect "share writes after each start" "$(grep -c 'share writes work' "$log")" 2
expect "+S after the restart" "$(ctl +S Video /mnt/usb1/video v)" ok

# ---- stop, then nobody listens ----------------------------------------------
expect "S" "$(ctl S)" ok
status=0
wait "$hostpid" || status=$?
expect "host exit status" "$status" 0
if grep -q "AddressSanitizer\|runtime error" "$log"; then fail "sanitizer report: $(cat "$log")"; fi
out=$(ctl MSG 1 || true)
expect "no host" "$(echo "$out" | cut -d' ' -f1-2)" "fail 0xff0bb7"
ms=$(echo "$out" | cut -d' ' -f3)
[ "$ms" -ge 4900 ] && [ "$ms" -lt 7000 ] || fail "no answer after ${ms} ms, wanted about 5 s"
log "no host: 0xff0bb7 after $ms ms"
echo PASS
