#!/usr/bin/env bash
# SMB2 data and information commands of vxcs as peers see them: smbclient on
# every dialect, plain, signed and (3.x) sealed, puts and gets files around
# the 64 KiB boundaries and compares their md5s; allinfo, rename, setmode,
# del, rmdir, du, volume and a listing of 10,000 names; impacket crafts
# READs and WRITEs at the limits.
# SMB2IO_BIG=1 adds a 100 MiB file to every transfer (by hand: it is long
# under ASan).
set -euo pipefail
vxnd=$1 vxcs=$2 clients=$3
. "$(dirname "$0")/lib_server.sh"
require_scenario_ns

mkdir -p "$work/share" "$work/files" "$work/back"
shares=$(printf 'Share;%s;Files' "$work/share")

sizes="0 1 65535 65536 65537 4194304"
[ "${SMB2IO_BIG:-0}" = 1 ] && sizes="$sizes 104857600"
for n in $sizes; do
  head -c "$n" /dev/urandom > "$work/files/f$n"
done

server_start "$vxnd" "$vxcs"
printf 'alice:Secret#1:1000:0\n' > /var/run/cifs/pwd_list.txt

# smbclient DIALECT PROTECTION COMMANDS: its output; the exit code in $rc.
on_share() {
  rc=0
  out=$(cd "$work" && timeout 120 smbclient //127.0.0.1/Share -U 'alice%Secret#1' -m "$1" \
    --client-protection="$2" -c "$3" 2>&1) || rc=$?
}

md5() { md5sum < "$1" | cut -d' ' -f1; }

for dialect in SMB2_02 SMB2_10 SMB3_00 SMB3_11; do
  modes="off sign"
  [ "${dialect#SMB3}" != "$dialect" ] && modes="$modes encrypt"
  for mode in $modes; do
    tag=${dialect}_$mode
    commands=""
    for n in $sizes; do
      commands+="put files/f$n ${tag}_$n; "
    done
    for n in $sizes; do
      commands+="get ${tag}_$n back/${tag}_$n; "
    done
    on_share "$dialect" "$mode" "$commands"
    [ "$rc" = 0 ] || fail "$tag put/get: exit $rc: $out"
    for n in $sizes; do
      [ "$(md5 "$work/files/f$n")" = "$(md5 "$work/share/${tag}_$n")" ] || fail "$tag: put of $n bytes differs"
      [ "$(md5 "$work/files/f$n")" = "$(md5 "$work/back/${tag}_$n")" ] || fail "$tag: get of $n bytes differs"
    done
    rm -f "$work/share/${tag}_"* "$work/back/${tag}_"*
    log "smbclient -m $dialect --client-protection=$mode: put/get md5 of $sizes bytes: ok"
    server_alive
  done
done

# A folder on a full disk: the plain put (straight from the socket into the
# file) is answered DISK_FULL on the connection that stays; smbclient itself
# gives the connection up after that, its later WRITEs still in flight.
mkdir -p "$work/share/tiny"
mount -t tmpfs -o size=1m tmpfs "$work/share/tiny"
on_share SMB3_11 off "put files/f4194304 tiny/big"
grep -q "cli_push returned NT_STATUS_DISK_FULL" <<< "$out" || fail "put on a full disk: $out"
umount "$work/share/tiny"
log "put on a full disk: DISK_FULL answered: ok"
server_alive

# Information, renames, attributes and deletes, on the newest dialect.
cp "$work/files/f65537" "$work/share/info.bin"
on_share SMB3_11 sign "allinfo info.bin"
# Streams are not among the classes the server answers; the rest is.
grep -q "write_time: .* UTC" <<< "$out" && grep -q "attributes: " <<< "$out" || fail "allinfo: $out"
log "allinfo: ok"

echo one > "$work/share/one.txt"
echo two > "$work/share/two.txt"
on_share SMB3_11 sign "rename one.txt moved.txt"
[ "$rc" = 0 ] && [ -f "$work/share/moved.txt" ] && [ ! -e "$work/share/one.txt" ] || fail "rename: $out"
# Onto an existing name: smbclient asks to replace it.
on_share SMB3_11 sign "rename -f moved.txt two.txt"
if [ "$rc" = 0 ]; then
  [ "$(cat "$work/share/two.txt")" = one ] && [ ! -e "$work/share/moved.txt" ] || fail "rename -f lost data: $out"
else
  [ "$(cat "$work/share/two.txt")" = two ] && [ "$(cat "$work/share/moved.txt")" = one ] ||
    fail "refused rename changed files: $out"
fi
# smbclient folds the climbing name itself (impacket sends it as it is).
on_share SMB3_11 sign "rename two.txt ..\\x"
[ ! -e "$work/x" ] || fail "rename out of the share: $out"
[ -f "$work/share/x" ] && mv "$work/share/x" "$work/share/two.txt"
[ -f "$work/share/two.txt" ] || fail "rename out of the share lost the file: $out"
log "rename, onto an existing name, nothing out of the share: ok"

on_share SMB3_11 sign "setmode two.txt +r; allinfo two.txt"
[ "$rc" = 0 ] && grep -qi "attributes: .*R" <<< "$out" || fail "setmode +r: $out"
on_share SMB3_11 sign "setmode two.txt -r; del two.txt"
[ "$rc" = 0 ] && [ ! -e "$work/share/two.txt" ] || fail "setmode -r and del: $out"
log "setmode, del: ok"

mkdir -p "$work/share/full" "$work/share/empty"
echo kept > "$work/share/full/kept.txt"
on_share SMB3_11 sign "rmdir full"
[ -f "$work/share/full/kept.txt" ] || fail "rmdir removed a full folder: $out"
on_share SMB3_11 sign "rmdir empty"
[ ! -e "$work/share/empty" ] || fail "rmdir of an empty folder: $out"
log "rmdir: a full folder stays, an empty one goes: ok"

on_share SMB3_11 sign "du; volume"
[ "$rc" = 0 ] || fail "du/volume: exit $rc: $out"
grep -q "blocks of size" <<< "$out" || fail "du: $out"
grep -qi "volume: .*serial number" <<< "$out" || fail "volume: $out"
log "du, volume: ok"

mkdir "$work/share/many"
(cd "$work/share/many" && seq -f "name-%05g.txt" 1 10000 | xargs touch)
for dialect in SMB2_02 SMB3_11; do
  on_share "$dialect" sign "cd many; ls"
  [ "$rc" = 0 ] || fail "ls of many names: exit $rc: ${out:0:2000}"
  listed=$(grep -o 'name-[0-9]*\.txt' <<< "$out" | sort)
  expect "$dialect names listed" "$(wc -l <<< "$listed")" 10000
  expect "$dialect names listed once" "$(uniq <<< "$listed" | wc -l)" 10000
done
log "ls of 10,000 names: none lost or repeated: ok"
server_alive

# 50 clients copying while a 51st comes and takes a slot: at most one copy
# is lost, none is corrupted.
head -c 1048576 /dev/urandom > "$work/files/crowd"
pids=()
for i in $(seq 1 50); do
  (rc=0; cd "$work" && timeout 120 smbclient //127.0.0.1/Share -U 'alice%Secret#1' -m SMB3_11 \
    -c "put files/crowd crowd_$i; get crowd_$i back/crowd_$i" > "$work/crowd_$i.log" 2>&1 || rc=$?
    echo "$rc" > "$work/crowd_$i.rc") &
  pids+=($!)
done
sleep 0.5
on_share SMB3_11 sign "ls crowd_1"
for p in "${pids[@]}"; do wait "$p" || true; done
intact=0
for i in $(seq 1 50); do
  [ -f "$work/back/crowd_$i" ] && [ "$(md5 "$work/back/crowd_$i")" = "$(md5 "$work/files/crowd")" ] &&
    intact=$((intact + 1))
  # The evicted client's get may leave a part of the file behind; a copy
  # smbclient calls done must be whole.
  if [ "$(cat "$work/crowd_$i.rc")" = 0 ] && [ "$(md5 "$work/back/crowd_$i")" != "$(md5 "$work/files/crowd")" ]; then
    fail "client $i got corrupted data: $(tail -3 "$work/crowd_$i.log")"
  fi
done
[ "$intact" -ge 49 ] || fail "only $intact of 50 copies intact: $(tail -3 "$work"/crowd_*.log)"
log "50 clients copying beside a 51st: $intact copies intact, none corrupted: ok"
server_alive

/usr/bin/python3 "$clients" "$work/share" || fail "impacket reads and writes"
server_alive
log "impacket reads and writes at the limits: ok"

server_stop
