#!/usr/bin/env bash
# Printing end to end: vxcs with vxnd and the fake USB printer driver, a
# printer share, a printer owner and a plain user, in a namespace of its own.
# smbclient prints a 1 MiB random file and the device holds it byte for byte
# (NT1, and SMB2_10, SMB3_11 and encrypted SMB3_11 where the server speaks
# them); a printer that is not ready takes the job within one 5 s update of
# its control line saying ready; while a FIFO printer stalls, other clients'
# listings answer at once and the job arrives whole once the printer reads;
# five clients crowd a stalled printer and the printing one dies;
# a client that drops mid-job frees the device for the next job.
set -euo pipefail
vxcs=$1 vxnd=$2 ctl=$3 usblp=$4
. "$(dirname "$0")/lib_server.sh"
require_scenario_ns
command -v smbclient > /dev/null || { echo "no smbclient here: skipping" >&2; exit 77; }

mkdir -p /var/run/cifs /var/run/usblp "$work/files"
printf 'Files;%s;Files\n' "$work/files" > /var/run/cifs/cs_cfg.txt
echo listed > "$work/files/seen.txt"
control=/var/run/usblp/control
out=$work/laser.out
fifo=$work/stall.fifo
mkfifo "$fifo"
set_laser() { # PORT-STATUS
  {
    printf '/dev/usb/lp0 %s 1234:0001 %s MFG:Acme;MDL:Laser 9;CMD:PCL;\n' "$out" "$1"
    printf '/dev/usb/lp1 %s 1234:0002 0x18 MFG:Acme;MDL:Slow 1;CMD:PCL;\n' "$fifo"
  } > "$control.new"
  mv "$control.new" "$control"
}
set_laser 0x18

vxcs_preload=$usblp
server_start "$vxnd" "$vxcs"
wait_port tcp 445

"$ctl" addprintershare Laser /dev/usb/lp0 /var/run/cifs/Laser.status 1 "Laser printer" > /dev/null
"$ctl" addprintershare Slow /dev/usb/lp1 /var/run/cifs/Slow.status 1 "Slow printer" > /dev/null
add_user owner Secret1
add_user plain Secret2
"$ctl" setprinterowner owner 1 > /dev/null

# client SHARE USER%PASS PROTOCOL COMMAND [LOG]
client() {
  local extra=()
  case "$3" in
    NT1) extra=(-m NT1 --option='client min protocol=NT1') ;;
    SMB3_11-encrypted) extra=(-m SMB3_11 --client-protection=encrypt) ;;
    *) extra=(-m "$3") ;;
  esac
  timeout 90 smbclient "//127.0.0.1/$1" -U "$2" "${extra[@]}" -c "$4" > "${5:-$work/client.log}" 2>&1
}

head -c 4096 /dev/urandom > "$work/probe.bin"
if ! client Laser owner%Secret1 NT1 "print $work/probe.bin"; then
  echo "printing over SMB1 is not in this build: $(tail -1 "$work/client.log")" >&2
  exit 77
fi

head -c 1048576 /dev/urandom > "$work/doc.bin"
for proto in NT1 SMB2_10 SMB3_11 SMB3_11-encrypted; do
  if [ "$proto" != NT1 ] && ! client Files plain%Secret2 "$proto" ls; then
    log "print over $proto: the server does not speak it in this build ($(tail -1 "$work/client.log"))"
    continue
  fi
  : > "$out"
  client Laser owner%Secret1 "$proto" "print $work/doc.bin" || fail "print over $proto: $(cat "$work/client.log")"
  wait_until 10 cmp -s "$work/doc.bin" "$out" || fail "print over $proto: the device holds $(stat -c %s "$out") bytes"
  log "print over $proto: 1 MiB byte for byte: ok"
done

# ---- a printer that is not ready --------------------------------------------
# 4 MiB is more than a job holds: the server stops reading the client until
# the printer takes some, and the client waits instead of being refused.
head -c 4194304 /dev/urandom > "$work/big.bin"
for proto in NT1 SMB3_11; do
  sleep 1.2 # past the status cache
  : > "$out"
  set_laser 0x38
  client Laser owner%Secret1 "$proto" "print $work/big.bin" "$work/late.log" &
  late=$!
  sleep 3
  [ "$(stat -c %s "$out")" = 0 ] || fail "a printer with its paper out took $(stat -c %s "$out") bytes"
  set_laser 0x18
  ready_at=$SECONDS
  wait "$late" || fail "print over $proto to a printer that was not ready: $(cat "$work/late.log")"
  took=$((SECONDS - ready_at))
  [ "$took" -le 7 ] || fail "the job over $proto ended ${took}s after the printer became ready"
  cmp -s "$work/big.bin" "$out" || fail "the held job over $proto reached the device as $(stat -c %s "$out") bytes"
  log "paper out, then ready: the 4 MiB job over $proto ended ${took}s later, byte for byte: ok"
done

# ---- a stalled printer and other clients' listings --------------------------
# Held open here and read by nobody, the FIFO fills and the device would
# block: the rest of the job waits in the server, which goes on serving.
for print_proto in NT1 SMB3_11; do
  exec 7<> "$fifo"
  stalls=$(grep -c "printer busy" "$work/vxcs.log" || true)
  client Slow owner%Secret1 "$print_proto" "print $work/big.bin" "$work/slow.log" &
  slow=$!
  wait_until 10 bash -c "[ \$(grep -c 'printer busy' $work/vxcs.log) -gt $stalls ]" ||
    fail "the FIFO printer never stalled: $(tail -5 "$work/vxcs.log")"
  for proto in NT1 SMB3_11; do
    t0=$(date +%s%N)
    rc=0
    client Files plain%Secret2 "$proto" ls "$work/ls.log" || rc=$?
    ms=$((($(date +%s%N) - t0) / 1000000))
    [ "$rc" = 0 ] && grep -q "seen.txt" "$work/ls.log" ||
      fail "a listing over $proto while a printer stalls: $(cat "$work/ls.log")"
    [ "$ms" -lt 5000 ] || fail "a listing over $proto while a printer stalls took $ms ms"
    log "printing over $print_proto to a stalled printer, a listing over $proto: $ms ms: ok"
  done
  kill -0 "$slow" || fail "the stalled job's client ended before the printer read: $(cat "$work/slow.log")"
  cat "$fifo" 7>&- > "$work/stall.out" &
  reader=$!
  on_exit quiet_kill "$reader"
  exec 7>&-
  reading_at=$SECONDS
  wait "$slow" || fail "the stalled job's client: $(cat "$work/slow.log")"
  took=$((SECONDS - reading_at))
  # Woken by the device, not left to the 5 s update.
  [ "$took" -le 4 ] || fail "the stalled job ended ${took}s after the printer read again"
  wait_until 10 cmp -s "$work/big.bin" "$work/stall.out" ||
    fail "the stalled job reached the device as $(stat -c %s "$work/stall.out") bytes"
  kill "$reader" 2> /dev/null || true
  wait "$reader" 2> /dev/null || true
  log "the stalled printer took the job over $print_proto byte for byte ${took}s after it read again: ok"
done

# ---- a crowd at a stalled printer ---------------------------------------------
# Five clients send 4 MiB each to the stalled printer (four jobs at most: the
# fifth is refused), the one printing dies while the server holds it back;
# the others print whole, in order, once the printer reads.
exec 7<> "$fifo"
queued=$(grep -c "queued at position 3" "$work/vxcs.log" || true)
crowd=()
for n in 1 2 3 4 5; do
  smbclient //127.0.0.1/Slow -U owner%Secret1 -m SMB3_11 -c "print $work/big.bin" > "$work/crowd$n.log" 2>&1 &
  crowd+=($!)
  sleep 0.3 # in this order
done
wait_until 10 bash -c "[ \$(grep -c 'queued at position 3' $work/vxcs.log) -gt $queued ]" ||
  fail "four jobs did not queue: $(tail -5 "$work/vxcs.log")"
kill -KILL "${crowd[0]}"
wait "${crowd[0]}" 2> /dev/null || true
client Files plain%Secret2 SMB3_11 ls "$work/ls.log" || fail "a listing beside the crowd: $(cat "$work/ls.log")"
cat "$fifo" 7>&- > "$work/crowd.out" &
reader=$!
on_exit quiet_kill "$reader"
exec 7>&-
refused=0
for n in 2 3 4 5; do
  rc=0
  wait "${crowd[$((n - 1))]}" || rc=$?
  [ "$rc" = 0 ] || refused=$((refused + 1))
done
[ "$refused" = 1 ] || fail "$refused of four waiting clients failed: $(cat "$work"/crowd?.log)"
cat "$work/big.bin" "$work/big.bin" "$work/big.bin" > "$work/three.bin"
wait_until 10 bash -c "tail -c 12582912 $work/crowd.out | cmp -s - $work/three.bin" ||
  fail "the crowd's jobs reached the device as $(stat -c %s "$work/crowd.out") bytes"
kill "$reader" 2> /dev/null || true
wait "$reader" 2> /dev/null || true
server_alive
log "five clients at a stalled printer, the printing one killed: three jobs whole, one refused, the server alive: ok"

# ---- a client that drops mid-job frees the device ---------------------------
sleep 1.2
set_laser 0x38
: > "$out"
ended=$(grep -c "ending job" "$work/vxcs.log" || true)
smbclient //127.0.0.1/Laser -U owner%Secret1 -m NT1 --option='client min protocol=NT1' \
  -c "print $work/doc.bin" > "$work/dropped.log" 2>&1 &
dropped=$!
sleep 2
kill -KILL "$dropped"
wait "$dropped" 2> /dev/null || true
# The server sees the connection go and ends the job with it.
ended_before=$ended
wait_until 10 bash -c "[ \$(grep -c 'ending job' $work/vxcs.log) -gt $ended_before ]" ||
  fail "the dropped client's job did not end: $(tail -5 "$work/vxcs.log")"
set_laser 0x18
sleep 1.2
: > "$out"
head -c 65536 /dev/urandom > "$work/next.bin"
client Laser owner%Secret1 NT1 "print $work/next.bin" || fail "the job after a dropped client: $(cat "$work/client.log")"
wait_until 10 cmp -s "$work/next.bin" "$out" || fail "the next job: the device holds $(stat -c %s "$out") bytes"
log "a client dropped mid-job; the next job prints: ok"

kill -0 "$server" || fail "the server died: $(cat "$work/vxcs.log")"
! grep -q "Sanitizer" "$work/vxcs.log" || fail "sanitizer report: $(cat "$work/vxcs.log")"
log "printing scenario: ok"
