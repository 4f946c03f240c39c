#!/usr/bin/env bash
# The SMB2/SMB3 core of vxcs with the real NetBIOS daemon, as peers see it:
# smbclient over every dialect and protection (GCM and CCM sealing), impacket
# per dialect, crafted packets, a crowd past the 50 client slots and hostile
# clients under the sanitizers.
set -euo pipefail
vxnd=$1 vxcs=$2 clients=$3
. "$(dirname "$0")/lib_server.sh"
require_scenario_ns

mkdir -p "$work/share" "$work/secret"
echo hello > "$work/share/file.txt"
shares=$(printf 'Share;%s;Files\nSecret;%s;Sealed' "$work/share" "$work/secret")
server_start "$vxnd" "$vxcs" --encrypt-share Secret
# The user list is the host's to write once the server runs.
printf 'alice:Secret#1:1000:0\n' > /var/run/cifs/pwd_list.txt

# smbclient DIALECT PROTECTION SHARE [OPTION...]: `pwd` on the share.
pwd_on() {
  local dialect=$1 protection=$2 share=$3
  shift 3
  timeout 20 smbclient "//127.0.0.1/$share" -U 'alice%Secret#1' -m "$dialect" \
    --client-protection="$protection" "$@" -c pwd 2>&1
}

for dialect in SMB2_02 SMB2_10 SMB3_00 SMB3_02 SMB3_11; do
  protections="off sign"
  case $dialect in SMB3*) protections="off sign encrypt" ;; esac
  for protection in $protections; do
    ciphers=(default)
    [ "$dialect:$protection" = SMB3_11:encrypt ] && ciphers=(AES-128-GCM AES-128-CCM)
    for cipher in "${ciphers[@]}"; do
      opts=()
      [ "$cipher" = default ] || opts=(--option="client smb3 encryption algorithms=$cipher")
      for share in Share IPC\$; do
        rc=0
        out=$(pwd_on "$dialect" "$protection" "$share" "${opts[@]}") || rc=$?
        [ "$rc" = 0 ] && grep -q "Current directory is" <<< "$out" ||
          fail "smbclient -m $dialect $protection $cipher //$share: exit $rc: $out"
      done
      log "smbclient -m $dialect --client-protection=$protection ($cipher): Share and IPC\$: ok"
    done
  done
done

rc=0
out=$(timeout 20 smbclient //127.0.0.1/Share -U 'alice%wrong' -m SMB3_11 -c pwd 2>&1) || rc=$?
[ "$rc" != 0 ] && grep -q NT_STATUS_LOGON_FAILURE <<< "$out" || fail "wrong password: exit $rc: $out"
log "wrong password: NT_STATUS_LOGON_FAILURE: ok"

rc=0
out=$(pwd_on SMB2_10 sign Secret) || rc=$?
[ "$rc" != 0 ] && grep -q NT_STATUS_ACCESS_DENIED <<< "$out" || fail "encrypted share over 2.1: exit $rc: $out"
out=$(pwd_on SMB3_11 encrypt Secret) || fail "encrypted share over 3.1.1: $out"
log "encrypted share: refused over 2.1 (0xC0000022), served sealed over 3.1.1: ok"
server_alive

rss() { awk '/^VmRSS/ {print $2}' "/proc/$server/status"; }
for mode in dialects smb30 crafted crowd hostile; do
  [ "$mode" = hostile ] && before=$(rss)
  /usr/bin/python3 "$clients" "$mode" || fail "impacket $mode"
  server_alive
  log "impacket $mode: ok"
done
# The storm leaves the server no bigger than its buffers and tables allow.
growth=$(( ($(rss) - before) / 1024 ))
[ "$growth" -lt 64 ] || fail "vxcs grew by $growth MiB under hostile clients"
log "growth under hostile clients: $growth MiB: ok"

server_stop

# The whole server sealed: every share refused over 2.1, served over 3.1.1
# with encryption.
vxcs_start "$vxcs" --encrypt-share '*'
printf 'alice:Secret#1:1000:0\n' > /var/run/cifs/pwd_list.txt
# The runner marks the server once its shares are loaded.
refused_over_21() {
  ! out=$(pwd_on SMB2_10 sign Share) && grep -q NT_STATUS_ACCESS_DENIED <<< "$out"
}
wait_until 10 refused_over_21 || fail "encrypted server over 2.1: $out"
out=$(pwd_on SMB3_11 encrypt Share) || fail "Share sealed over 3.1.1 with the server encrypted: $out"
log "--encrypt-share '*': Share refused over 2.1, served sealed over 3.1.1: ok"
server_stop
