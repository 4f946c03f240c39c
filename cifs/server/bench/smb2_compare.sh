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
. "$FW_SOURCE_DIR/cifs/server/bench/lib_compare.sh"
start_vxcs
printf "root:Secret#1:1000:0\n" > /var/run/cifs/pwd_list.txt
start_smbd SMB2_02 "$work/share"
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
