#!/usr/bin/env bash
# zmocore PLUGIN VXND VXCS VXCSCTRL USBLP: the CIFS plug-in running the real
# NetBIOS daemon, the vxcs runner (over the fake USB printer driver) and the
# control tool by name, with smbclient as the peer: start journal, daemons up
# and down, replay, users, a printer, shares that come and go with their
# medium, a share the server's full table refuses, SystemShutdown.
set -euo pipefail
zmocore=$1 plugin=$2 vxnd=$3 vxcs=$4 ctl=$5 usblp=$6
. "$FW_SOURCE_DIR/tests/harness/lib.sh"
require_scenario_ns
. "$(dirname "$0")/lib_core.sh"
work=$(mktemp -d)
mkdir -p "$work/bin" "$work/usb0"
ln -s "$vxnd" "$ctl" "$work/bin/"
# The core runs "vxcs" by name: this one takes the fake printer driver (after
# the sanitizer's runtime when there is one).
asan=$(ldd "$vxcs" | awk '/libasan/ {print $3}')
printf '#!/bin/sh\nLD_PRELOAD=%s exec %s "$@"\n' "${asan:+$asan:}$usblp" "$vxcs" > "$work/bin/vxcs"
chmod +x "$work/bin/vxcs"
mkdir -p /var/run/usblp
printf '/dev/usb/lp0 %s 1234:0001 0x18 MFG:Acme;MDL:Laser 9;CMD:PCL;\n' "$work/laser.out" > /var/run/usblp/control
export PATH=$work/bin:$PATH
nt() { /usr/bin/python3 -c 'import sys; from impacket.ntlm import compute_nthash; print(compute_nthash(sys.argv[1]).hex())' "$1"; }
# smb USER%PASSWORD SHARE: `pwd` on the share; output in $out.
smb() { out=$(timeout 20 smbclient "//127.0.0.1/$2" -U "$1" -m SMB3_11 -c pwd 2>&1); }
answer() { ask "$1" && after_last "$1"; }
# matches LINE GREP-ARGS...: grep over what the core answered to LINE.
matches() {
  local said
  said=$(answer "$1")
  shift
  grep "$@" <<< "$said"
}
# journal_order PREFIX...: each prefix found in the journal after the one before.
journal_order() {
  local at=0 n p journal
  journal=$(answer "journal")
  for p in "$@"; do
    n=$(awk -v p="$p" -v at="$at" 'NR > at && index($0, p) == 1 { print NR; exit }' <<< "$journal")
    [ -n "$n" ] || fail "\"$p\" not in the journal after line $at: $journal"
    at=$n
  done
}
up() { ask "wait service CIFS up 20s" && [ "$(after_last "wait service CIFS up 20s")" = "service CIFS up" ]; }
# replayed LINE [SPAN]: until the journal holds LINE (10 s by default).
replayed() { ask "wait journal \"$1\" ${2:-10s}" && [ -z "$(after_last "wait journal \"$1\" ${2:-10s}")" ]; }

start_core "$zmocore" --wan-mac 00:11:22:33:44:55 --plugin "$plugin"
ports=$(answer "journal port" | awk '{ print $4, $5 }' | paste -sd,)
expect "reserved ports" "$ports" "tcp 139,tcp 445,udp 137,udp 138,udp 1022,udp 1023,udp 4445"
log "start: ports reserved in order: ok"

ask "journal clear"
ask "service cifs"
ask "sleep 500ms"
matches "journal service" -q . && fail "service cifs without shares started: $(answer journal)"
[ ! -e /var/run/vxnd.pid ] || fail "vxnd runs without shares"
log "service cifs without shares starts nothing: ok"

ask "event user add name=ann tags=cifs nt=$(nt 'Ann#pw1')"
ask "event user add name=bob tags=cifs"
ask "event user add name=olga tags=cifs,printers nt=$(nt 'Olga#pw1')"
matches "journal status" -qF '"bob" user has "cifs" tag but has no "nt" password, ignored' ||
  fail "bob without an nt password: $(answer journal)"
ask "event fs add name=USB0 label=DISK usb=1 dir=$work/usb0"
ask "cifs"
start=$(date +%s%N)
matches "share USB0 USB0:/" -qF "[0x00ce0001]" || fail "share USB0: $(after_last "share USB0 USB0:/")"
matches "share usb0 USB0:/" -qF "[0x80ce0006]" || fail "share usb0: $(after_last "share usb0 USB0:/")"
up || fail "CIFS not up: $(answer journal)"
replayed "process Cifs::Cli run vxcsctrl setprinterowner ann" || fail "no replay: $(answer journal)"
journal_order "service NETBIOS browser spawn" "service NETBIOS browser up" "service CIFS spawn" \
  "process Cifs::Cli run vxcsctrl addfileshare USB0 $work/usb0/" "process Cifs::Cli run vxcsctrl setpermissive no" \
  "process Cifs::Cli run vxcsctrl removeuser ann" "process Cifs::Cli run vxcsctrl adduser ann $(nt 'Ann#pw1')" \
  "process Cifs::Cli run vxcsctrl setprinterowner ann no"
replayed "process Cifs::Cli run vxcsctrl setprinterowner olga yes" || fail "olga not a printer owner: $(answer journal)"
matches "journal process" -q "vxcsctrl .* bob" && fail "bob reached the tool: $(answer journal)"
smb 'ann%Ann#pw1' USB0 || fail "smbclient as ann on USB0: $out"
listed() {
  out=$(timeout 20 smbclient -L //127.0.0.1 -U 'ann%Ann#pw1' -m NT1 --option='client min protocol=NT1' 2>&1) &&
    grep -Eq "^\s+USB0 +Disk" <<< "$out"
}
wait_until 20 listed || fail "smbclient -L lacks USB0: $out"
log "the first share enabled to smbclient -L listing it: $((($(date +%s%N) - start) / 1000000)) ms"
log "cifs / share USB0: vxnd, then vxcs, replay in order; smbclient logs on as ann and lists USB0: ok"

# ---- a printer -----------------------------------------------------------------
printer="event printer add id=1234:0001 share=Laser dev=/dev/usb/lp0 status=/var/run/cifs/Laser.status debug=1"
matches "$printer" -qx "printer 1234:0001 taken" || fail "printer: $(after_last "$printer")"
matches "journal process" -qx "process Cifs::Cli run vxcsctrl addprintershare Laser /dev/usb/lp0 /var/run/cifs/Laser.status 1" ||
  fail "no addprintershare: $(answer journal)"
matches dashboard -qx "CIFS_PRINTERS=1" || fail "dashboard: $(after_last dashboard)"
head -c 65536 /dev/urandom > "$work/doc.bin"
out=$(timeout 30 smbclient //127.0.0.1/Laser -U 'olga%Olga#pw1' -m NT1 --option='client min protocol=NT1' \
  -c "print $work/doc.bin" 2>&1) || fail "print: $out"
wait_until 10 cmp -s "$work/doc.bin" "$work/laser.out" || fail "the printer holds $(stat -c %s "$work/laser.out" 2>&1) bytes"
ask "journal clear"
matches "${printer/Laser /Laser2 }" -qx "printer 1234:0001 taken" || fail "second activation"
matches "journal" -qF 'previous instance of "1234:0001" removed' || fail "no replacement: $(answer journal)"
expect "runs of the second activation" "$(answer "journal process")" \
  "process Cifs::Cli run vxcsctrl addprintershare Laser2 /dev/usb/lp0 /var/run/cifs/Laser.status 1"
matches dashboard -qx "CIFS_PRINTERS=1" || fail "dashboard after the second: $(after_last dashboard)"
log "printer: addprintershare, CIFS_PRINTERS=1, smbclient print byte for byte; a second activation replaces it: ok"

# ---- users -------------------------------------------------------------------
ask "event user remove name=ann"
replayed "process Cifs::Cli run vxcsctrl removeuser ann" || fail "ann's removal: $(answer journal)"
locked_out() { ! smb 'ann%Ann#pw1' USB0 && grep -q NT_STATUS_LOGON_FAILURE <<< "$out"; }
wait_until 5 locked_out || fail "ann after removal: $out"
ask "event user add name=ann tags=cifs nt=$(nt 'Ann#pw2')"
ann_back() { smb 'ann%Ann#pw2' USB0; }
wait_until 5 ann_back || fail "ann with her new password: $out"
log "users: removal locks ann out, a new password logs her on: ok"

# ---- shares come and go with their medium -----------------------------------
ask "event fs remove name=USB0"
gone() { ! smb 'ann%Ann#pw2' USB0 && grep -q NT_STATUS_BAD_NETWORK_NAME <<< "$out"; }
wait_until 5 gone || fail "USB0 after unplug: $out"
ask "event fs add name=USB0 label=DISK usb=1 dir=$work/usb0"
wait_until 5 ann_back || fail "USB0 after plug: $out"
log "unplug hides USB0, plug restores it: ok"

# The server holds 15 shares: the first one past them is refused, and the
# tool says why in the log.
i=1
while matches "share S$i USB0:/" -qF "[0x00ce0001]"; do
  i=$((i + 1))
  [ "$i" -le 20 ] || fail "20 shares taken"
done
after_last "share S$i USB0:/" | grep -qF '[0x80ce000c] control tool run "addfileshare" failed' ||
  fail "share S$i: $(after_last "share S$i USB0:/")"
matches "journal log 2" -qF "vxcsctrl addfileshare exited with 255:" || fail "no tool output: $(answer journal)"
matches "journal" -qx " failed: 0xFF07D1" || fail "the tool's verdict not logged: $(answer journal)"
"$ctl" ES > "$work/es.log" || fail "ES: $(cat "$work/es.log")"
expect "shares on the server" "$(grep -c "Share name:" "$work/es.log")" 15
log "the share past the server's 15 refused with 0x80ce000c, the tool's output logged: ok"
ask "exit"

# ---- daemons -----------------------------------------------------------------

# A new interface restarts both daemons; its address change only wakes vxnd.
nd=$(cat /var/run/vxnd.pid)
ask "interface add id=Bridge0 name=br0 ip=192.168.1.1/24 level=0"
new_vxnd() { [ -s /var/run/vxnd.pid ] && [ "$(cat /var/run/vxnd.pid)" != "$nd" ]; }
wait_until 10 new_vxnd || fail "vxnd not restarted for the new interface: $(answer journal)"
up || fail "CIFS after the new interface: $(answer journal)"
nd=$(cat /var/run/vxnd.pid)
ask "journal clear"
ask "interface ip id=Bridge0 ip=192.168.2.1/24"
matches "journal service" -qx "service NETBIOS browser signal Hangup pid=$nd" || fail "no SIGHUP to vxnd: $(answer journal)"
ask "sleep 300ms"
kill -0 "$nd" || fail "vxnd ended at SIGHUP"
matches "journal service" -q "stop\|spawn" && fail "an address change restarted a daemon: $(answer journal)"
log "IfIpChanged: vxnd gets SIGHUP and keeps running: ok"

cs=$(cat /var/run/vxcs.pid)
ask "journal clear"
ask "event host name=nas2"
new_vxcs() { [ -s /var/run/vxcs.pid ] && [ "$(cat /var/run/vxcs.pid)" != "$cs" ]; }
wait_until 10 new_vxcs || fail "vxcs not restarted for the host name: $(answer journal)"
up || fail "CIFS after the host name: $(answer journal)"
expect "vxnd across the host name" "$(cat /var/run/vxnd.pid)" "$nd"
replayed "process Cifs::Cli run vxcsctrl setprinterowner ann" || fail "no replay after the host name: $(answer journal)"
wait_until 5 ann_back || fail "ann after the host name: $out"
matches "journal service" -q Killed && fail "vxcs had to be killed: $(answer journal)"
log "Host: only vxcs restarts, replayed: ok"

for i in $(seq 1 50); do
  ask "event user add name=u$i tags=cifs nt=$(nt "U$i#pw")"
done
replayed "process Cifs::Cli run vxcsctrl setprinterowner u50 no" 40s || fail "u50 not added: $(answer journal)"
ask "journal clear"
start=$(date +%s%N)
kill -9 "$(cat /var/run/vxnd.pid)"
ask "wait service CIFS down 10s"
up || fail "CIFS not back after vxnd died: $(answer journal)"
journal_order "service NETBIOS browser died" "service CIFS stop" "service NETBIOS browser spawn" \
  "service NETBIOS browser up" "service CIFS spawn" "process Cifs::Cli run vxcsctrl addfileshare USB0"
replayed "process Cifs::Cli run vxcsctrl setprinterowner u50 no" 40s || fail "no replay after vxnd died: $(answer journal)"
log "vxnd killed to the replay of 53 users done: $((($(date +%s%N) - start) / 1000000)) ms"
wait_until 5 ann_back || fail "ann after the restart: $out"
u50() { smb 'u50%U50#pw' USB0; }
wait_until 5 u50 || fail "u50 after the replay: $out"
log "vxnd killed: vxcs stopped until vxnd is back, then replayed: ok"

ask "journal clear"
ask "no service cifs"
ask "wait service \"NETBIOS browser\" down 10s"
journal_order "service CIFS stop" "service CIFS Terminated" "service CIFS stopped" \
  "service NETBIOS browser stop" "service NETBIOS browser Terminated" "service NETBIOS browser stopped"
matches "journal service" -q Killed && fail "a daemon had to be killed: $(answer journal)"
[ ! -e /var/run/vxcs.pid ] && [ ! -e /var/run/vxnd.pid ] || fail "pid files left behind"
log "no service cifs: vxcs then vxnd end on SIGTERM: ok"
ask "event host name=nas3"
ask "sleep 500ms"
matches "journal service" -q spawn && fail "Host started a stopped vxcs: $(answer journal)"
log "Host with the service off starts nothing: ok"

ask "event shutdown"
ask "journal clear"
ask "service cifs"
ask "sleep 1s"
matches "journal service" -q . && fail "started after SystemShutdown: $(answer journal)"
log "after SystemShutdown nothing starts: ok"
stop_core
