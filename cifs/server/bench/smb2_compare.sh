#!/usr/bin/env bash
# vxcs beside Samba's smbd on the SMB2 core, in one namespace: logons
# (negotiate, session setup, tree connect, logoff) and signed echoes per
# second at 2.1 and 3.1.1, from the same impacket client, with the ratio.
#   cifs/server/bench/smb2_compare.sh [build-dir] [logons] [echoes]
# The build folder's vxcs and vxnd are used as they are: a release build
# (-DFW_SANITIZE=OFF) gives figures worth comparing.
set -euo pipefail
root=$(cd "$(dirname "$0")/../../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
logons=${2:-200} echoes=${3:-3000}
for p in "$build/cifs/tools/vxnd" "$build/platform/vxcs/vxcs"; do
  [ -x "$p" ] || { echo "no $p: build vxnd and vxcs in $build first" >&2; exit 2; }
done
command -v smbd > /dev/null || { echo "smbd (Debian package samba) is needed" >&2; exit 2; }
export FW_BUILD_DIR=$build FW_SOURCE_DIR=$root BENCH_LOGONS=$logons BENCH_ECHOES=$echoes
exec "$root/tests/harness/nsrun" --hostname router -- bash -c '
set -euo pipefail
. "$FW_SOURCE_DIR/tests/harness/lib.sh"
require_scenario_ns
work=$(mktemp -d)
mkdir -p /var/run/cifs "$work/share" "$work/samba"/{private,lock,state,cache,pid,ncalrpc,bind-dns}
printf "Share;%s;Files\n" "$work/share" > /var/run/cifs/cs_cfg.txt
"$FW_BUILD_DIR/cifs/tools/vxnd" -i 001122334455 > "$work/vxnd.log" 2>&1 &
wait_line "$work/vxnd.log" "VXND: server is ready"
"$FW_BUILD_DIR/platform/vxcs/vxcs" -i 001122334455 > "$work/vxcs.log" 2>&1 &
wait_line "$work/vxcs.log" "VXCS: server is ready"
printf "root:Secret#1:1000:0\n" > /var/run/cifs/pwd_list.txt
s=$work/samba
cat > "$s/smb.conf" <<CONF
[global]
  smb ports = 4450
  server min protocol = SMB2_02
  private dir = $s/private
  lock directory = $s/lock
  state directory = $s/state
  cache directory = $s/cache
  pid directory = $s/pid
  ncalrpc dir = $s/ncalrpc
  binddns dir = $s/bind-dns
  passdb backend = tdbsam:$s/private/passdb.tdb
  log file = $s/smbd.log
  load printers = no
  disable spoolss = yes
[Share]
  path = $work/share
  read only = no
CONF
printf "Secret#1\nSecret#1\n" | smbpasswd -c "$s/smb.conf" -s -a root > /dev/null
smbd -F --no-process-group -s "$s/smb.conf" > "$s/stdout.log" 2>&1 &
wait_until 10 _listens -Hltn 4450 "" || { cat "$s/stdout.log" "$s/smbd.log"; exit 1; }
/usr/bin/python3 - <<PY
import os, time
from impacket import smb3
from impacket.smb3structs import SMB2_DIALECT_21, SMB2_DIALECT_311
from impacket.smbconnection import SMBConnection

smb3.SMB3.RequireMessageSigning = True
logons, echoes = int(os.environ["BENCH_LOGONS"]), int(os.environ["BENCH_ECHOES"])

def connect(port, dialect):
    c = SMBConnection("127.0.0.1", "127.0.0.1", sess_port=port, preferredDialect=dialect)
    s = c._SMBConnection
    s._Connection["RequireSigning"] = True
    s._Session["PreauthIntegrityHashValue"] = s._Connection["PreauthIntegrityHashValue"]
    c.login("root", "Secret#1")
    return c

def rates(port, dialect):
    start = time.perf_counter()
    for _ in range(logons):
        c = connect(port, dialect)
        c.disconnectTree(c.connectTree("Share"))
        c.logoff()
        c.close()
    logon = logons / (time.perf_counter() - start)
    c = connect(port, dialect)
    start = time.perf_counter()
    for _ in range(echoes):
        c._SMBConnection.echo()
    echo = echoes / (time.perf_counter() - start)
    c.close()
    return logon, echo

print("dialect what        vxcs /s   smbd /s   ratio")
for name, dialect in (("2.1", SMB2_DIALECT_21), ("3.1.1", SMB2_DIALECT_311)):
    ours, theirs = rates(445, dialect), rates(4450, dialect)
    for i, what in enumerate(("logons", "echoes")):
        print(f"{name:<8}{what:<9}{ours[i]:>10.0f}{theirs[i]:>10.0f}{ours[i] / theirs[i]:>8.2f}")
PY
'
