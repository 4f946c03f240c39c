#!/usr/bin/env bash
# SMB2 CREATE and CLOSE of vxcs as peers see them: smbclient on every
# dialect makes and removes folders and empty files, full folders stay,
# names that climb out of the share are refused; impacket crafts CREATEs
# for batch oplocks and their breaks between two clients, and for change
# notification.
set -euo pipefail
vxnd=$1 vxcs=$2 clients=$3
. "$(dirname "$0")/../../harness/lib.sh"
require_scenario_ns

work=$(mktemp -d)
mkdir -p /var/run/cifs "$work/share/full" "$work/outside"
echo kept > "$work/share/full/kept.txt"
echo secret > "$work/outside/secret.txt"
: > "$work/empty.txt"
printf 'Share;%s;Files\nSecret;%s;Sealed\n' "$work/share" "$work/share" > /var/run/cifs/cs_cfg.txt

"$vxnd" -i 001122334455 > "$work/vxnd.log" 2>&1 &
on_exit quiet_kill $!
wait_line "$work/vxnd.log" "VXND: server is ready"
"$vxcs" -i 001122334455 --encrypt-share Secret > "$work/vxcs.log" 2>&1 &
server=$!
on_exit quiet_kill "$server"
wait_line "$work/vxcs.log" "VXCS: server is ready"
wait_port tcp 445
printf 'alice:Secret#1:1000:0\n' > /var/run/cifs/pwd_list.txt

alive() {
  kill -0 "$server" || fail "vxcs died: $(cat "$work/vxcs.log")"
  ! grep -q "Sanitizer" "$work/vxcs.log" || fail "sanitizer report: $(cat "$work/vxcs.log")"
}

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
  # smbclient's rm lists the folder and its rmdir sets the disposition:
  # removal is shown by impacket's delete-on-close opens below.
  log "smbclient -m $dialect: mkdir, put of an empty file, a second mkdir refused: ok"

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
  alive
done

/usr/bin/python3 "$clients" "$work/share" || fail "impacket oplocks and notification"
alive
log "impacket oplocks, breaks and notification: ok"

kill -TERM "$server"
rc=0
wait "$server" || rc=$?
expect "SIGTERM exit" "$rc" 0
! grep -q "Sanitizer" "$work/vxcs.log" || fail "sanitizer report: $(cat "$work/vxcs.log")"
