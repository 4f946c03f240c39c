#!/usr/bin/env bash
# The common layer's host side in a namespace of its own: the own-address
# list over veth interfaces (with the kinds it skips), pid files and the
# private configuration folder, hook files written and read back byte for
# byte, and UTF-16 names reaching the disk as UTF-8 through the
# access-control library. The host's /var/run is left as it was.
set -euo pipefail

if [ "${1:-}" != --inner ]; then
  probe=$1
  here=$(cd "$(dirname "$0")" && pwd)
  snapshot() { ls -d /run/cifs /run/vxcs.pid /run/vxnd.pid 2>/dev/null || true; }
  before=$(snapshot)
  status=0
  "$here/../../harness/nsrun" --hostname router -- bash "$here/hooks.sh" --inner "$probe" || status=$?
  [ "$status" = 0 ] || exit "$status"
  [ "$before" = "$(snapshot)" ] || { echo "FAIL: the host's /var/run changed" >&2; exit 1; }
  echo PASS
  exit 0
fi

probe=$2
. "$(dirname "$0")/../../harness/lib.sh"
require_scenario_ns

# ---- own addresses ----------------------------------------------------------
veth() { # veth NAME ADDR/PREFIX
  ip link add "$1" type veth peer name "$1p"
  ip addr add "$2" brd + dev "$1"
  ip link set "$1" up
  ip link set "$1p" up
}
veth lan0 192.168.50.1/24
veth ppp0 10.64.0.1/30
veth ezcfg0 10.65.0.1/30
veth ovpn_br0 10.66.0.1/30
got=$("$probe" selfip)
expect "own addresses" "$got" "lo 127.0.0.1 127.0.0.1 255.0.0.0
lan0 192.168.50.1 192.168.50.255 255.255.255.0"

# ---- pid files and the configuration folder ---------------------------------
rm -rf /var/run/cifs
out=$("$probe" start)
pid=${out##*pid }
expect "server pid file" "$(cat /var/run/vxcs.pid)" "$pid"
expect "daemon pid file" "$(cat /var/run/vxnd.pid)" "$pid"
expect "pid file has no line end" "$(wc -c < /var/run/vxcs.pid)" "${#pid}"
expect "ready lines" "$(echo "$out" | head -2)" "VXCS: server is ready
VXND: server is ready"
expect "configuration folder mode" "$(stat -c %a /var/run/cifs)" 700
"$probe" stop > /dev/null
[ ! -e /var/run/vxcs.pid ] && [ ! -e /var/run/vxnd.pid ] || fail "pid files left after stop"

# ---- hook files ---------------------------------------------------------------
hash=00112233445566778899aabbccddeeff
sd=$(printf '%02x' $(seq 1 20))
sd300=$(printf '%0600d' 0)
printf '# shares\n' > /var/run/cifs/cs_cfg.txt
mkdir -p /tmp/data
answers=$(printf '%s\n' \
  "adduser	ann" "adduser	bob" 'adduser	eve\nroot::-1:0' "setinfo	1	ann	$hash" \
  "admin	2	1" "adduser	carl" "deluser	3" "password	ANN" "password	nobody" \
  "saveshare	-	Music	/mnt/usb1/music	My music" 'saveshare	-	Evil\nroot	/x	y' \
  "saveshare	Music	Songs	/mnt/usb1/music	Renamed" 'saveshare	Songs	Songs	/a;b	c' \
  "shares" "savesd	Songs	$sd" "loadsd	Songs" "savesd	Songs	$sd300" \
  "mkfile	/tmp/data/caf$(printf '\xc3\xa9').txt" \
  "rename	/tmp/data/caf$(printf '\xc3\xa9').txt	/tmp/data/$(printf '\xe6\x97\xa5').txt" \
  | "$probe" run)
results=$(echo "$answers" | sed -n 's/^> //p')
expect "hook answers" "$results" "1
1
0
1
1
1
1
4 1 $hash$hash
2 0 
1
0
1
0
Songs|/mnt/usb1/music|Renamed;C\$|/var/run/cifs/|Default share;
0
20 $sd
-1
1
0"
expect "users file" "$(cat /var/run/cifs/pwd_list.txt)" "ann:$hash$hash:1:0
bob::-2:0"
expect "shares file" "$(cat /var/run/cifs/cs_cfg.txt)" "# shares
Songs;/mnt/usb1/music;Renamed"
expect "descriptor file size" "$(stat -c %s /var/run/cifs/share_sd.txt)" 860
[ ! -e /var/run/cifs/__temp__ ] || fail "scratch file left behind"

# Names went through the library as UTF-8 and reached the disk so.
acl=$(echo "$answers" | sed -n 's/^acl //p')
expect "library calls" "$acl" "open /tmp/data/caf$(printf '\xc3\xa9').txt 0
rename /tmp/data/caf$(printf '\xc3\xa9').txt 0"
expect "name on disk" "$(ls /tmp/data)" "$(printf '\xe6\x97\xa5').txt"
