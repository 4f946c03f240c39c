#!/usr/bin/env bash
# smbclient prints the same random file to our server (vxcs with the fake
# USB printer driver, writing to a file) and to Samba's smbd (a printer share
# whose print command copies the spooled file), in alternating rounds within
# one run; prints both times and their ratio.
#
#   cifs/rpc/bench/print_compare.sh BUILD_DIR [MIB] [ROUNDS] [PROTOCOL]
#
# BUILD_DIR: any build folder with vxcs, vxnd, vxcsctrl and libusblp (a
# release build gives the fair figure). Runs in namespaces of its own
# (tests/harness/nsrun).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../../.." && pwd)
build=$(cd "${1:?usage: print_compare.sh BUILD_DIR [MIB] [ROUNDS] [PROTOCOL]}" && pwd)
mib=${2:-16} rounds=${3:-5} proto=${4:-SMB3_11}
vxcs=$build/platform/vxcs/vxcs vxnd=$build/cifs/tools/vxnd ctl=$build/cifs/tools/vxcsctrl
usblp=$build/platform/usblp/libusblp.so
for f in "$vxcs" "$vxnd" "$ctl" "$usblp"; do
  [ -e "$f" ] || { echo "no $f: build vxcs, vxnd, vxcsctrl and usblp_fake" >&2; exit 1; }
done
if [ "${NSRUN_INNER:-}" != 1 ]; then
  NSRUN_INNER=1 exec "$root/tests/harness/nsrun" --hostname router -- \
    env NSRUN_INNER=1 bash "$0" "$build" "$mib" "$rounds" "$proto"
fi
. "$root/tests/e2e/cifs/lib_server.sh"

# Ours: the fake printer writes to a file.
mkdir -p /var/run/usblp
printf '/dev/usb/lp0 %s 1234:0001 0x18 MFG:Acme;MDL:Laser 9;CMD:PCL;\n' "$work/laser.out" > /var/run/usblp/control
: > /var/run/cifs/cs_cfg.txt
vxcs_preload=$usblp
server_start "$vxnd" "$vxcs"
"$ctl" addprintershare Laser /dev/usb/lp0 /var/run/cifs/Laser.status 1 "Laser printer" > /dev/null
add_user owner Secret1
"$ctl" setprinterowner owner 1 > /dev/null

# Samba's: a printer share on another port, its print command a copy.
D=$work/smbd
mkdir -p $D/{priv,lock,state,cache,run,log,spool}
mkdir -p "$work/out"
# Guests spool and their print command writes.
chmod 755 "$work" $D
chmod 1777 $D/spool "$work/out"
cat > $D/smb.conf << EOF
[global]
  workgroup = WORKGROUP
  netbios name = SAMBA
  private dir = $D/priv
  lock directory = $D/lock
  state directory = $D/state
  cache directory = $D/cache
  pid directory = $D/run
  ncalrpc dir = $D/run/ncalrpc
  log file = $D/log/%m.log
  smb ports = 1445
  server min protocol = NT1
  interfaces = lo
  bind interfaces only = yes
  server role = standalone server
  log level = 0
  load printers = no
  disable spoolss = yes
  printing = bsd
  lpq command = /bin/true
  lprm command = /bin/true
  map to guest = Bad User
[Laser]
  path = $D/spool
  printable = yes
  guest ok = yes
  print command = cat %s > $work/out/samba.out; rm -f %s
EOF
smbd -F --configfile=$D/smb.conf > $D/smbd.out 2>&1 &
on_exit quiet_kill "$!"
wait_port tcp 1445

head -c $((mib * 1048576)) /dev/urandom > "$work/doc.bin"
dialect=(-m "$proto")
[ "$proto" != NT1 ] || dialect+=(--option='client min protocol=NT1')
print_to() { # PORT USER OUTPUT
  rm -f "$3"
  local t0
  t0=$(date +%s%N)
  timeout 300 smbclient //127.0.0.1/Laser -p "$1" $2 "${dialect[@]}" -c "print $work/doc.bin" > "$work/client.log" 2>&1 ||
    fail "print to port $1: $(cat "$work/client.log")"
  # Done when the printer holds it all.
  wait_until 60 cmp -s "$work/doc.bin" "$3" || fail "port $1: the printer holds $(stat -c %s "$3" 2> /dev/null || echo 0) bytes"
  echo $((($(date +%s%N) - t0) / 1000000))
}
ours=0 samba=0
for r in $(seq "$rounds"); do
  o=$(print_to 445 "-U owner%Secret1" "$work/laser.out")
  s=$(print_to 1445 "-N" "$work/out/samba.out")
  echo "round $r: ours $o ms, samba $s ms"
  ours=$((ours + o)) samba=$((samba + s))
done
echo "printing ${mib} MiB over $proto, $rounds rounds: ours $ours ms, samba $samba ms," \
  "ratio ours/samba $(awk -v o="$ours" -v s="$samba" 'BEGIN { printf "%.2f", o / s }')"
