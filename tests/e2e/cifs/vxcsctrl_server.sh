#!/usr/bin/env bash
# vxcsctrl against the real server (vxnd and the vxcs runner): shares and
# users it makes are what smbclient and impacket meet; the enumerations show
# them; connections end when the tool says so; signing policy, encryption
# level, restart and stop.
set -euo pipefail
vxnd=$1 vxcs=$2 ctl=$3 clients=$4
. "$(dirname "$0")/../../harness/lib.sh"
require_scenario_ns
. "$(dirname "$0")/server_lib.sh"

mkdir -p "$work/pub" "$work/two"
echo hello > "$work/pub/a.txt"
server_start "$vxnd" "$vxcs"

# tool WORD...: vxcsctrl must succeed; its output is in $out.
tool() {
  out=$("$ctl" "$@" 2>&1) || fail "vxcsctrl $*: $out"
  grep -q "^ succeeded$" <<< "$out" || fail "vxcsctrl $* without a verdict: $out"
}
# smb USER%PASSWORD SHARE DIALECT [COMMANDS]: `pwd` or COMMANDS on the
# share; output in $out. smb USER%PASSWORD -L DIALECT lists the shares.
smb() {
  local where=("//127.0.0.1/$2") extra=()
  [ "$2" = -L ] && where=(-L //127.0.0.1)
  [ "$3" = NT1 ] && extra=(--option='client min protocol=NT1')
  out=$(timeout 20 smbclient "${where[@]}" -U "$1" -m "$3" "${extra[@]}" -c "${4:-pwd}" 2>&1)
}
# The enumeration block (entries are separated by blank lines or "#N" lines)
# holding LINE.
entry() { awk -v RS= -v line="$1" 'index($0, line)' <<< "$out"; }

# ---- users -----------------------------------------------------------------
tool adduser bob 'Bob#pw1'
tool +U ann "Ann A" "Keeps it" 'Ann#pw1'
# The plug-in hands over the core's NT hash: it is taken as it is.
carol=$(/usr/bin/python3 -c 'from impacket.ntlm import compute_nthash; print(compute_nthash("Carol#pw1").hex())')
tool adduser carol "$carol"
for who in 'bob%Bob#pw1' 'ann%Ann#pw1' 'carol%Carol#pw1'; do
  smb "$who" IPC\$ SMB3_11 || fail "logon as ${who%%%*}: $out"
done
smb 'bob%Ann#pw1' IPC\$ SMB3_11 && fail "bob logged on with ann's password"
grep -q NT_STATUS_LOGON_FAILURE <<< "$out" || fail "wrong password: $out"
log "adduser, +U, adduser with a hash: smbclient logs on; a wrong password fails: ok"

tool EU
out=$(sed 's/^  #[0-9]*$//' <<< "$out")
grep -q "User is Admin: Yes" <<< "$(entry "User name: bob")" || fail "EU bob: $out"
grep -q "User is Admin: No" <<< "$(entry "User name: ann")" || fail "EU ann: $out"
grep -q "User is Admin: Yes" <<< "$(entry "User name: carol")" || fail "EU carol: $out"
log "EU: adduser makes administrators, +U without A does not: ok"

# ---- shares ----------------------------------------------------------------
# Printer shares are listed to printer owners.
tool setprinterowner ann yes
tool addfileshare Pub "$work/pub" "Public files"
tool +S Two "$work/two" "Second"
tool addprintershare Lp "$work/pub" /var/run/cifs/lp.status 2 "Laser"
smb 'bob%Bob#pw1' Pub SMB3_11 || fail "smbclient on Pub: $out"
smb 'ann%Ann#pw1' Two SMB2_10 || fail "smbclient on Two: $out"
smb 'ann%Ann#pw1' Pub NT1 "ls; get a.txt $work/got.txt" || fail "ls and get on Pub: $out"
grep -q " a.txt .* 6 " <<< "$out" || fail "a.txt not listed: $out"
expect "a.txt read back" "$(cat "$work/got.txt")" hello
smb 'ann%Ann#pw1' -L NT1 || fail "smbclient -L: $out"
for want in "Pub +Disk +Public files" "Two +Disk +Second" "Lp +Printer +Laser"; do
  grep -Eq "^\s+$want\s*$" <<< "$out" || fail "smbclient -L lacks \"$want\": $out"
done
tool ES
for want in "Share name: Pub" "Share path: $work/pub" "Share comment: Public files" \
  "Share name: Two" "Share comment: Second" "Share name: Lp" \
  "Printer share status path: /var/run/cifs/lp.status" "Printer share debug level: 2" "Share comment: Laser"; do
  grep -qF "        $want" <<< "$out" || fail "ES lacks \"$want\": $out"
done
log "addfileshare, +S, addprintershare: smbclient connects, lists, reads; ES prints them: ok"

tool -S Two
tool removeshare Lp
tool ES
! grep -q "Share name: Two\|Share name: Lp" <<< "$out" || fail "removed shares still listed: $out"
grep -q "Share name: Pub" <<< "$out" || fail "Pub gone with the others: $out"
smb 'ann%Ann#pw1' Two SMB2_10 && fail "Two still connects"
grep -q NT_STATUS_BAD_NETWORK_NAME <<< "$out" || fail "removed share: $out"
smb 'ann%Ann#pw1' -L NT1 || fail "smbclient -L: $out"
! grep -Eq "^\s+(Two|Lp) " <<< "$out" || fail "smbclient -L still lists removed shares: $out"
log "-S, removeshare: gone from ES and from smbclient and its list: ok"

# ---- clients ---------------------------------------------------------------
# smbclient holds its logon while it waits for the next command.
held() { { echo pwd; sleep 6; } | timeout 20 smbclient //127.0.0.1/Pub -U "$1" -m "$2" > /dev/null 2>&1 || true; }
held 'ann%Ann#pw1' SMB2_10 &
h1=$!
held 'bob%Bob#pw1' SMB3_11 &
h2=$!
rm -f "$work/go"
/usr/bin/python3 "$clients" open carol 'Carol#pw1' Pub a.txt "$work/go" > "$work/open.log" 2>&1 &
h3=$!
wait_line "$work/open.log" opened
three_clients() { [ "$("$ctl" EC | grep -c "name = ")" -ge 3 ]; }
wait_until 10 three_clients || fail "EC never showed three clients: $("$ctl" EC)"
tool EC
out=$(sed 's/^ Entry #[0-9]* $//' <<< "$out")
ann=$(entry "name = ann") bob=$(entry "name = bob") carol=$(entry "name = carol")
grep -q " SMB Version: SMB2.1 $" <<< "$ann" || fail "EC ann: $out"
grep -q " SMB Version: SMB3.1.1 $" <<< "$bob" || fail "EC bob: $out"
grep -q " SMB Version: SMB $" <<< "$carol" || fail "EC carol: $out"
grep -q " PrinterOwner = Yes" <<< "$ann" || fail "EC ann owner: $out"
grep -q " PrinterOwner = No" <<< "$bob" || fail "EC bob owner: $out"
grep -q " ip = 127.0.0.1" <<< "$ann" || fail "EC ann address: $out"
tool EF
expect "EF" "$(grep -v "^  Enumerating\| succeeded$" <<< "$out")" \
  "$(printf ' Entry #1 \n name = %s \n user name = carol \n ip = 127.0.0.1\n File is Directory: FALSE\n' "$work/pub/a.txt")"
touch "$work/go"
wait "$h1" "$h2" "$h3"
log "EC: SMB2.1, SMB3.1.1 and SMB1 clients, PrinterOwner = Yes after setprinterowner; EF: carol's open file: ok"

# hold USER%PASSWORD...: one impacket client per user, each logged on and
# connected to Pub; release: let them try again and collect their verdicts.
hold() {
  rm -f "$work/go"
  holders=()
  for who in "$@"; do
    /usr/bin/python3 "$clients" hold "${who%%%*}" "${who#*%}" Pub "$work/go" > "$work/hold-${who%%%*}.log" 2>&1 &
    holders+=($!)
  done
  for who in "$@"; do wait_line "$work/hold-${who%%%*}.log" connected; done
}
release() {
  touch "$work/go"
  wait "${holders[@]}" || true
}
verdict() { # verdict USER alive|dropped
  grep -q "^$2" "$work/hold-$1.log" || fail "$1 should be $2: $(cat "$work/hold-$1.log")"
}

hold 'ann%Ann#pw1' 'bob%Bob#pw1'
tool C ann
release
verdict ann dropped
verdict bob alive
log "C ann: ann's connection dropped, bob's kept: ok"

hold 'ann%Ann#pw1' 'bob%Bob#pw1'
tool setpermissive no
release
verdict ann dropped
verdict bob dropped
log "setpermissive no: every client dropped: ok"

/usr/bin/python3 "$clients" unsigned bob 'Bob#pw1' Pub > "$work/unsigned.log" 2>&1
grep -q "tree: ok" "$work/unsigned.log" || fail "unsigned before MSG 2: $(cat "$work/unsigned.log")"
tool MSG 2
/usr/bin/python3 "$clients" unsigned bob 'Bob#pw1' Pub > "$work/unsigned.log" 2>&1
grep -q "tree: STATUS_ACCESS_DENIED" "$work/unsigned.log" || fail "unsigned after MSG 2: $(cat "$work/unsigned.log")"
smb 'bob%Bob#pw1' Pub SMB3_11 || fail "a signing client after MSG 2: $out"
log "MSG 2: an unsigned client refused, a signing one served: ok"

# The level is the mask of accepted responses: NTLM alone turns away
# smbclient's NTLMv2; NTLM and NTLMv2 serve it again.
tool SEL 2
smb 'bob%Bob#pw1' Pub SMB2_10 && fail "an NTLMv2 logon under SEL 2"
grep -q NT_STATUS_LOGON_FAILURE <<< "$out" || fail "smbclient under SEL 2: $out"
tool SEL 10
smb 'bob%Bob#pw1' Pub SMB2_10 || fail "smbclient after SEL 10: $out"
log "SEL 2 refuses NTLMv2 logons, SEL 10 accepts them again: ok"

hold 'ann%Ann#pw1' 'bob%Bob#pw1' 'carol%Carol#pw1'
tool removeuser carol
tool -U ann
release
verdict carol dropped
verdict ann dropped
verdict bob alive
smb 'carol%Carol#pw1' Pub SMB3_11 && fail "carol logs on after removeuser"
smb 'ann%Ann#pw1' Pub SMB3_11 && fail "ann logs on after -U"
"$ctl" EU > "$work/eu.log" || true
! grep -q "User name: ann\|User name: carol" "$work/eu.log" || fail "removed users listed: $(cat "$work/eu.log")"
log "removeuser, -U: their logons end, bob's stays, they log on no more: ok"

# ---- restart and stop ------------------------------------------------------
# A restart loads the shares of cs_cfg.txt afresh; those added by the tool
# are the host's to add again.
printf 'Docs;%s;Papers\n' "$work/two" > /var/run/cifs/cs_cfg.txt
tool R
es_works() { "$ctl" ES > "$work/es.log" 2>&1; }
wait_until 10 es_works || fail "ES after R: $(cat "$work/es.log")"
grep -q "Share name: Docs" "$work/es.log" || fail "shares not loaded at R: $(cat "$work/es.log")"
smb 'bob%Bob#pw1' Docs SMB3_11 || fail "smbclient after R: $out"
server_alive
log "R: the server is back, ES works, bob served: ok"

tool S
rc=0
wait "$server" || rc=$?
expect "vxcs exit after S" "$rc" 0
start=$(date +%s%N)
rc=0
out=$("$ctl" ES 2>&1) || rc=$?
took=$((($(date +%s%N) - start) / 1000000))
expect "ES after S" "$rc" 255
grep -q "^ failed: 0xFF0BB7$" <<< "$out" || fail "ES after S: $out"
[ "$took" -ge 4900 ] || fail "ES after S gave up after $took ms"
! grep -q "Sanitizer" "$work/vxcs.log" || fail "sanitizer report: $(cat "$work/vxcs.log")"
log "S: vxcs exits 0, the next command fails with 0xFF0BB7 after $took ms: ok"
