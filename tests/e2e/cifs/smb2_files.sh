#!/usr/bin/env bash
# SMB2 CREATE and CLOSE of vxcs as peers see them: smbclient on every
# dialect makes and removes folders and empty files, full folders stay,
# names that climb out of the share are refused, a read-only share deletes
# nothing; impacket crafts CREATEs for batch oplocks and their breaks
# between two clients (sealed on the encrypted share, LOCKING_ANDX to SMB1
# holders), and for change notification over SMB2 and SMB1, 50 watchers at
# once.
set -euo pipefail
vxnd=$1 vxcs=$2 clients=$3
. "$(dirname "$0")/lib_server.sh"
require_scenario_ns

mkdir -p "$work/share/full" "$work/outside"
echo kept > "$work/share/full/kept.txt"
echo secret > "$work/outside/secret.txt"
: > "$work/empty.txt"
shares=$(printf 'Share;%s;Files\nSecret;%s;Sealed\nRO;%s;Read only' "$work/share" "$work/share" "$work/share")
# RO lets everyone read and nothing more: a descriptor whose one ACE allows
# Everyone 0x001200A9, as the share descriptor file keeps it.
/usr/bin/python3 - <<'EOF'
import struct
ace = struct.pack('<BBHI', 0, 0, 20, 0x001200A9) + bytes([1, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0])
acl = struct.pack('<BBHHH', 2, 0, 8 + len(ace), 1, 0) + ace
sd = struct.pack('<BBHIIII', 1, 0, 0x8004, 0, 0, 0, 20) + acl
record = b'RO'.ljust(256, b'\0') + b';;' + sd.hex().encode().ljust(600, b'\0') + b'\n\r'
open('/var/run/cifs/share_sd.txt', 'wb').write(record)
EOF
server_start "$vxnd" "$vxcs" --encrypt-share Secret
printf 'alice:Secret#1:1000:0\n' > /var/run/cifs/pwd_list.txt

# smbclient DIALECT COMMANDS: its output; the exit code in $rc.
on_share() {
  rc=0
  out=$(cd "$work" && timeout 20 smbclient //127.0.0.1/Share -U 'alice%Secret#1' -m "$1" -c "$2" 2>&1) || rc=$?
}

for dialect in SMB2_02 SMB2_10 SMB3_00 SMB3_11; do
  d=dir_$dialect
  on_share "$dialect" "mkdir $d; cd $d; put empty.txt e.txt"
  [ "$rc" = 0 ] || fail "$dialect mkdir/put: exit $rc: $out"
  [ -d "$work/share/$d" ] && [ -f "$work/share/$d/e.txt" ] || fail "$dialect: nothing made: $out"
  [ ! -s "$work/share/$d/e.txt" ] || fail "$dialect: e.txt not empty"
  on_share "$dialect" "mkdir $d"
  grep -q NT_STATUS_OBJECT_NAME_COLLISION <<< "$out" || fail "$dialect: second mkdir: $out"
  on_share "$dialect" "rmdir full"
  grep -q NT_STATUS_DIRECTORY_NOT_EMPTY <<< "$out" || fail "$dialect: rmdir of a full folder: $out"
  [ "$(cat "$work/share/full/kept.txt")" = kept ] || fail "$dialect: the full folder lost its file"
  on_share "$dialect" "rm $d\\e.txt; rmdir $d"
  [ "$rc" = 0 ] && [ ! -e "$work/share/$d" ] || fail "$dialect: rm/rmdir left $d: exit $rc: $out"
  log "smbclient -m $dialect: mkdir, put of an empty file, rm, rmdir; a second mkdir and rmdir of a full folder refused: ok"

  for name in '..\outside\secret.txt' '..\..\etc\passwd' 'full\..\..\outside\secret.txt'; do
    on_share "$dialect" "get $name $work/got"
    [ "$rc" != 0 ] && [ ! -e "$work/got" ] || fail "$dialect: get $name served: $out"
  done
  # smbclient folds the climbing names itself; whatever it sends stays inside.
  for name in '..\x' '..\..\tmp\x' 'full\..\..\x'; do
    on_share "$dialect" "mkdir $name"
  done
  [ ! -e "$work/x" ] && [ "$(cat "$work/outside/secret.txt")" = secret ] || fail "$dialect: touched outside"
  log "smbclient -m $dialect: traversal through CREATE refused, nothing outside touched: ok"
  server_alive
done

# Reading the share is all RO allows: smbclient can neither rm nor rmdir there.
mkdir -p "$work/share/ro_dir"
echo stays > "$work/share/ro_file.txt"
rc=0
out=$(cd "$work" && timeout 20 smbclient //127.0.0.1/RO -U 'alice%Secret#1' -m SMB3_11 -c "get ro_file.txt got_ro" \
  2>&1) || rc=$?
[ "$rc" = 0 ] && [ "$(cat "$work/got_ro")" = stays ] || fail "RO: get refused: $out"
for cmd in "rm ro_file.txt" "rmdir ro_dir"; do
  rc=0
  out=$(timeout 20 smbclient //127.0.0.1/RO -U 'alice%Secret#1' -m SMB3_11 -c "$cmd" 2>&1) || rc=$?
  grep -q NT_STATUS_ <<< "$out" || fail "RO: $cmd not refused: $out"
done
[ "$(cat "$work/share/ro_file.txt")" = stays ] && [ -d "$work/share/ro_dir" ] || fail "RO: something was deleted"
log "smbclient on a read-only share: get served, rm and rmdir refused, nothing deleted: ok"

/usr/bin/python3 "$clients" "$work/share" || fail "impacket oplocks and notification"
server_alive
log "impacket oplocks, breaks and notification: ok"

kill -TERM "$server"
rc=0
wait "$server" || rc=$?
expect "SIGTERM exit" "$rc" 0
! grep -q "Sanitizer" "$work/vxcs.log" || fail "sanitizer report: $(cat "$work/vxcs.log")"
