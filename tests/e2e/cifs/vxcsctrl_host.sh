#!/usr/bin/env bash
# The control tool against vxctlhost (the control channel's server side over
# the real database, with seeded clients and open files) in a namespace of
# its own: shares, users, listings, switches, a restart, a stop, and then a
# command nobody answers.
set -euo pipefail
host=$1 tool=$2
. "$(dirname "$0")/../../harness/lib.sh"
require_scenario_ns

work=$(mktemp -d)
log=$work/host.log
hash=00112233445566778899aabbccddeeff
mkdir -p /var/run/cifs
printf 'Music;/mnt/usb1/music;My music\n' > /var/run/cifs/cs_cfg.txt
"$host" --client bob,192.168.1.5,8 --client guest,192.168.1.6,4,guest --client carol,192.168.1.7,1 \
  --open 0,/mnt/usb1/music/a.mp3 --open 2,/mnt/usb1/music/photos,dir > "$log" 2>&1 &
hostpid=$!
on_exit quiet_kill "$hostpid"
wait_line "$log" "VXCTLHOST: ready"

# ctl WORDS...: the tool's output, then its exit status on a line of its own.
ctl() {
  local status=0
  "$tool" "$@" || status=$?
  echo "exit $status"
}
served() { grep -c '^state' "$log"; }
last_state() { grep '^state' "$log" | tail -1; }

defaults="  Enumerating shares ...
  #1
        Share name: IPC\$
        Share path: 
        Share comment: IPC Service
  #2
        Share name: Music
        Share path: /mnt/usb1/music
        Share comment: My music
  #3
        Share name: C\$
        Share path: /var/run/cifs/
        Share comment: Default share
 succeeded
exit 0"

# ---- shares ---------------------------------------------------------------
expect "ES" "$(ctl ES)" "$defaults"
expect "addfileshare" "$(ctl addfileshare Docs /mnt/usb1/docs Papers)" "  Adding share ...
 succeeded
exit 0"
expect "+S" "$(ctl +S Video /mnt/usb1/video 'Home videos')" "  Adding share ...
 succeeded
exit 0"
expect "addprintershare" "$(ctl addprintershare Lp /dev/usb/lp0 /var/run/lp0 2 Laser | tail -2)" " succeeded
exit 0"
expect "ES lists them" "$(ctl ES | tail -16)" "  #4
        Share name: Docs
        Share path: /mnt/usb1/docs
        Share comment: Papers
  #5
        Share name: Video
        Share path: /mnt/usb1/video
        Share comment: Home videos
  #6
        Share name: Lp
        Share path: /dev/usb/lp0
        Printer share status path: /var/run/lp0
        Printer share debug level: 2
        Share comment: Laser
 succeeded
exit 0"
expect "-S" "$(ctl -S Video | tail -1)" "exit 0"
expect "removeshare" "$(ctl removeshare Docs | tail -1)" "exit 0"
expect "removeshare Lp" "$(ctl removeshare Lp | tail -1)" "exit 0"
expect "ES after removing" "$(ctl ES)" "$defaults"
expect "removeshare of a share that is gone" "$(ctl removeshare Docs)" "  Removing share ...
 failed: 0xFF07D1
exit 255"

# ---- users ----------------------------------------------------------------
expect "adduser" "$(ctl adduser ann $hash | tail -1)" "exit 0"
expect "+U without A" "$(ctl +U pat Pat Desc $hash | tail -1)" "exit 0"
expect "+U with A" "$(ctl +U root Root Desc $hash A | tail -1)" "exit 0"
expect "EU" "$(ctl EU | grep -E 'User name|User is Admin|exit')" "        User name: ann
        User is Admin: Yes
        User name: pat
        User is Admin: No
        User name: root
        User is Admin: Yes
exit 0"
expect "setprinterowner of nobody fails" "$(ctl setprinterowner nobody yes)" "  Set printer owner ...
 failed: 0xFF07D1
exit 255"
expect "setprinterowner" "$(ctl setprinterowner pat yes | tail -1)" "exit 0"
expect "removeuser" "$(ctl removeuser ann | tail -1)" "exit 0"
expect "-U" "$(ctl -U pat | tail -1)" "exit 0"
expect "-U root" "$(ctl -U root | tail -1)" "exit 0"
expect "EU after removing" "$(ctl EU)" "  Enumerating users ...
 succeeded
exit 0"

# ---- seeded clients and files ---------------------------------------------
expect "EC" "$(ctl EC)" "  Enumerating Clients ...
 Entry #1 
 ip = 192.168.1.5
 name = bob
 Guest = No
 Anonymous = No
 PrinterOwner = No
 SMB Version: SMB3.1.1 

 Entry #2 
 ip = 192.168.1.6
 name = guest
 Guest = Yes
 Anonymous = No
 PrinterOwner = No
 SMB Version: SMB2.1 

 Entry #3 
 ip = 192.168.1.7
 name = carol
 Guest = No
 Anonymous = No
 PrinterOwner = No
 SMB Version: SMB 

 succeeded
exit 0"
expect "EF" "$(ctl EF)" "  Enumerating Files ...
 Entry #1 
 name = /mnt/usb1/music/a.mp3 
 user name = bob 
 ip = 192.168.1.5
 File is Directory: FALSE

 Entry #2 
 name = /mnt/usb1/music/photos 
 user name = carol 
 ip = 192.168.1.7
 File is Directory: TRUE

 succeeded
exit 0"
expect "C bob" "$(ctl C bob | tail -1)" "exit 0"
wait_line "$log" "closed bob"
expect "EC after C" "$(ctl EC | grep 'name =')" " name = guest
 name = carol"

# ---- switches -------------------------------------------------------------
expect "SEL 10" "$(ctl SEL 10 | tail -1)" "exit 0"
expect "methods switched" "$(last_state | grep -o 'methods=[^ ]*')" "methods=0xa"
before=$(served)
expect "SEL 5" "$(ctl SEL 5 | tail -1)" "exit 255"
expect "MSG 3" "$(ctl MSG 3 | tail -1)" "exit 255"
expect "refused words reach no server" "$(served)" "$before"
expect "MSG 2" "$(ctl MSG 2 | tail -1)" "exit 0"
expect "signing required" "$(last_state | grep -o 'signing=[^ ]*')" "signing=1/1"
expect "setpermissive yes" "$(ctl setpermissive yes | tail -1)" "exit 0"
expect "permissive on" "$(last_state | grep -o 'permissive=[^ ]*')" "permissive=1"
expect "setpermissive no" "$(ctl setpermissive no | tail -1)" "exit 0"
wait_line "$log" "dropped every client"
expect "no client after setpermissive no" "$(ctl EC)" "  Enumerating Clients ...
 succeeded
exit 0"

# ---- restart, stop, then nobody answers -----------------------------------
expect "+S before the restart" "$(ctl +S Video /mnt/usb1/video v | tail -1)" "exit 0"
expect "R" "$(ctl R)" "  Restarting CIFS Server ...
 succeeded
exit 0"
wait_line "$log" "restarted"
# The database starts afresh: what +S added is gone.
expect "ES after the restart" "$(ctl ES | grep -E 'Share name: (IPC|Music|Video)|exit')" "        Share name: IPC\$
        Share name: Music
exit 0"
expect "S" "$(ctl S)" "  Terminating CIFS Server ...
 succeeded
exit 0"
status=0
wait "$hostpid" || status=$?
expect "host exit status" "$status" 0
if grep -q "AddressSanitizer\|runtime error" "$log"; then fail "sanitizer report: $(cat "$log")"; fi
start=$(date +%s%N)
expect "no server" "$(ctl MSG 1)" "   Changing Message Signing ...
 failed: 0xFF0BB7
exit 255"
ms=$((($(date +%s%N) - start) / 1000000))
[ "$ms" -ge 4900 ] && [ "$ms" -lt 7000 ] || fail "no answer after ${ms} ms, wanted about 5 s"
log "no server: 0xFF0BB7 after $ms ms"
echo PASS
