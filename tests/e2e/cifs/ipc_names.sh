#!/usr/bin/env bash
# Names on IPC$, which has pipes and no folder: smbclient (NT1, SMB3) on IPC$
# sets modes, lists, renames, deletes and removes folders by names that
# would be paths from the disk's root; impacket sets the end of file and the
# attributes by path (TRANS2) with such a name and with one climbing out of
# a disk share. Each is refused and the files they name (under this
# scenario's own /tmp) stay as they were; the pipes still open there.
# Links on the share's disk to that folder and file are refused the same
# way (get, ls, put, setmode), while a link inside the share works.
set -euo pipefail
vxnd=$1 vxcs=$2 ctl=$3 clients=$4
. "$(dirname "$0")/lib_server.sh"
require_scenario_ns
command -v smbclient > /dev/null || { echo "no smbclient here: skipping" >&2; exit 77; }

share_and_peer
server_start "$vxnd" "$vxcs"
password='Secret#1'
add_user alice "$password"

mkdir -p "$work/target/empty"
printf guard > "$work/target/victim"
chmod 0644 "$work/target/victim"
chmod 0755 "$work/target"
# The target as a name on IPC$: its path from "/".
target=$(printf '%s' "$work/target" | tr / '\\')

for dialect in NT1 SMB3_11; do
  timeout 30 smbclient //127.0.0.1/IPC\$ -U "alice%$password" -m "$dialect" --option='client min protocol=NT1' \
    -c "setmode $target\\victim +r; setmode $target +a; ls $target\\*; rename $target\\victim $target\\moved;
        del $target\\victim; rmdir $target\\empty" > "$work/ipc.log" 2>&1 || true
  expect "$dialect: target's mode" "$(stat -c %a "$work/target")" 755
  expect "$dialect: victim's mode" "$(stat -c %a "$work/target/victim")" 644
  expect "$dialect: victim's content" "$(cat "$work/target/victim")" guard
  [ -d "$work/target/empty" ] && [ ! -e "$work/target/moved" ] ||
    fail "$dialect: IPC\$ names reached the disk: $(ls -R "$work/target")"
  ! grep -q "victim *[AR]" "$work/ipc.log" || fail "$dialect: IPC\$ listed the disk: $(cat "$work/ipc.log")"
  grep -q "NT_STATUS_ACCESS_DENIED\|NT_STATUS_OBJECT_PATH_NOT_FOUND\|NT_STATUS_OBJECT_NAME_NOT_FOUND" "$work/ipc.log" ||
    fail "$dialect: IPC\$ names: $(cat "$work/ipc.log")"
  log "$dialect: names on IPC\$ refused, the disk unchanged: ok"
done

/usr/bin/python3 "$clients" alice "$password" '..\target\victim' "$target\victim" > "$work/trans2.log" 2>&1 ||
  fail "set path information: $(cat "$work/trans2.log")"
expect "victim's mode after TRANS2" "$(stat -c %a "$work/target/victim")" 644
expect "victim's content after TRANS2" "$(cat "$work/target/victim")" guard
log "set path information out of Share and on IPC\$ refused: ok"

# Links on the share's disk: out to the target folder and its file, and one
# to a folder of the share itself.
mkdir -p "$work/share/docs"
printf inside > "$work/share/docs/note"
printf planted > "$work/upload"
ln -s "$work/target" "$work/share/out"
ln -s "$work/target/victim" "$work/share/secret"
ln -s docs "$work/share/inner"
refused='NT_STATUS_OBJECT_PATH_NOT_FOUND\|NT_STATUS_OBJECT_NAME_NOT_FOUND\|NT_STATUS_ACCESS_DENIED'
for dialect in NT1 SMB3_11; do
  on_share() {
    timeout 30 smbclient //127.0.0.1/Share -U "alice%$password" -m "$dialect" --option='client min protocol=NT1' \
      -c "$1" > "$work/links.log" 2>&1 || true
  }
  rm -f "$work/got"
  on_share "get secret $work/got"
  grep -q "$refused" "$work/links.log" || fail "$dialect: get through a link out: $(cat "$work/links.log")"
  [ ! -s "$work/got" ] || fail "$dialect: read outside the share: $(cat "$work/got")"
  on_share "ls out\\*"
  grep -q "$refused" "$work/links.log" && ! grep -q victim "$work/links.log" ||
    fail "$dialect: listed outside the share: $(cat "$work/links.log")"
  on_share "put $work/upload out\\planted"
  grep -q "$refused" "$work/links.log" || fail "$dialect: put through a link out: $(cat "$work/links.log")"
  [ ! -e "$work/target/planted" ] || fail "$dialect: wrote outside the share"
  on_share "setmode out +r"
  grep -q "$refused" "$work/links.log" || fail "$dialect: setmode of a folder out: $(cat "$work/links.log")"
  on_share "setmode secret +r"
  grep -q "$refused" "$work/links.log" || fail "$dialect: setmode of a file out: $(cat "$work/links.log")"
  expect "$dialect: target's mode through a link" "$(stat -c %a "$work/target")" 755
  expect "$dialect: victim's mode through a link" "$(stat -c %a "$work/target/victim")" 644
  expect "$dialect: victim's content through a link" "$(cat "$work/target/victim")" guard
  on_share "get inner\\note $work/got; ls inner\\*"
  expect "$dialect: a link inside the share" "$(cat "$work/got")" inside
  grep -q "^ *note .* 6 " "$work/links.log" || fail "$dialect: listing through a link inside: $(cat "$work/links.log")"
  log "$dialect: links out of Share refused, a link inside works: ok"
done
server_alive

# The pipes are still there: the share list comes over srvsvc on IPC$.
timeout 30 smbclient -L 127.0.0.1 -U "alice%$password" -m NT1 --option='client min protocol=NT1' \
  > "$work/list.log" 2>&1 || fail "share list: $(cat "$work/list.log")"
grep -q "Share *Disk" "$work/list.log" || fail "share list: $(cat "$work/list.log")"
log "srvsvc on IPC\$: ok"
server_alive
