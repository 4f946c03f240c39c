#!/usr/bin/env bash
# smbclient (NT1) works with files on vxcs, as a user of a share does, with
# vxnd beside it: mkdir, put and get of 1 B, 64 KiB and 100 MiB compared by
# md5 (plain with direct transfer, and signed without it), over 445 and 139;
# ls, allinfo, rename, setmode, du, volume, del, rmdir; names that climb
# out of the share are refused.
set -euo pipefail
vxnd=$1 vxcs=$2 ctl=$3
. "$(dirname "$0")/lib_server.sh"
require_scenario_ns
command -v smbclient > /dev/null || { echo "no smbclient here: skipping" >&2; exit 77; }

share_and_peer
mkdir "$work/local"
server_start "$vxnd" "$vxcs"
wait_port tcp 445

password='Secret#1'
add_user alice "$password"

cd "$work/local"
printf x > b1
head -c 65536 /dev/urandom > k64
head -c $((100 * 1024 * 1024)) /dev/urandom > m100

nt1() { # nt1 PORT PROTECTION COMMANDS
  timeout 120 smbclient //127.0.0.1/Share -p "$1" -U "alice%$password" -m NT1 \
    --option='client min protocol=NT1' --client-protection="$2" -c "$3" > "$work/smbclient.log" 2>&1 ||
    fail "smbclient on $1 ($2) '$3': $(cat "$work/smbclient.log")"
}

for run in "445 off" "139 sign"; do
  set -- $run
  port=$1 protection=$2
  nt1 "$port" "$protection" "mkdir d; put b1 d\\b1; put k64 d\\k64; put m100 d\\m100"
  nt1 "$port" "$protection" "get d\\b1 b1.back; get d\\k64 k64.back; get d\\m100 m100.back"
  for f in b1 k64 m100; do
    expect "$f through $port ($protection)" "$(md5sum < "$f.back")" "$(md5sum < "$f")"
    expect "$f on the share" "$(md5sum < "$work/share/d/$f")" "$(md5sum < "$f")"
  done
  nt1 "$port" "$protection" "ls d\\*"
  grep -q "m100 *A *104857600" "$work/smbclient.log" || fail "ls: $(cat "$work/smbclient.log")"
  nt1 "$port" "$protection" "allinfo d\\k64"
  grep -q "attributes: A" "$work/smbclient.log" || fail "allinfo: $(cat "$work/smbclient.log")"
  nt1 "$port" "$protection" "rename d\\b1 d\\b2; setmode d\\b2 +r"
  [ -e "$work/share/d/b2" ] && [ ! -e "$work/share/d/b1" ] || fail "rename"
  nt1 "$port" "$protection" "ls d\\b2"
  grep -q "b2 *AR" "$work/smbclient.log" || fail "setmode: $(cat "$work/smbclient.log")"
  nt1 "$port" "$protection" "setmode d\\b2 -r; del d\\b2; del d\\k64; del d\\m100; rmdir d"
  [ ! -e "$work/share/d" ] || fail "del and rmdir left $(ls -R "$work/share")"
  nt1 "$port" "$protection" "du; volume"
  grep -q "Volume: |Share|" "$work/smbclient.log" || fail "volume: $(cat "$work/smbclient.log")"
  rm -f ./*.back
  log "files over $port, protection $protection: ok"
done

# Names that climb out of the share.
mkdir "$work/outside"
rc=0
timeout 20 smbclient //127.0.0.1/Share -U "alice%$password" -m NT1 --option='client min protocol=NT1' \
  -c 'put b1 ..\outside\b1; mkdir ..\outside\d' > "$work/climb.log" 2>&1 || rc=$?
[ -z "$(ls -A "$work/outside")" ] || fail "a name climbed out of the share: $(ls "$work/outside")"
grep -q "NT_STATUS_OBJECT_PATH_NOT_FOUND\|NT_STATUS_OBJECT_NAME_INVALID\|NT_STATUS_ACCESS_DENIED" "$work/climb.log" ||
  fail "..\\ names: $(cat "$work/climb.log")"
log "..\\ names refused: ok"

# "IPC$" has no folder: a name on it is no host path (before, "\\" there was
# the host's "/"). smbclient's file commands on it leave a host folder as it was.
mkdir -p "$work/host/d"
printf keep > "$work/host/f"
chmod 755 "$work/host/d"
chmod 644 "$work/host/f"
host=$(tr / '\\' <<< "$work/host")
# (one smbclient a command: -c stops at the first refusal)
for command in "setmode $host\\d +a" "setmode $host\\f +r" "ls $host\\*" "del $host\\f" \
  "rename $host\\f $host\\g" "rmdir $host\\d"; do
  timeout 20 smbclient //127.0.0.1/IPC$ -U "alice%$password" -m NT1 --option='client min protocol=NT1' \
    -c "$command" >> "$work/ipc.log" 2>&1 || true
done
expect "host folder's mode" "$(stat -c %a "$work/host/d")" 755
expect "host file's mode" "$(stat -c %a "$work/host/f")" 644
expect "host file" "$(cat "$work/host/f")" keep
[ ! -e "$work/host/g" ] || fail "a rename on IPC$ reached the host"
! grep -q "^  f " "$work/ipc.log" || fail "a listing on IPC$ showed the host: $(cat "$work/ipc.log")"
log "names on IPC$ reach no host file: ok"

kill -0 "$server" || fail "the server died: $(cat "$work/vxcs.log")"
! grep -q "Sanitizer" "$work/vxcs.log" || fail "sanitizer report: $(cat "$work/vxcs.log")"
