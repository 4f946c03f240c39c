# Shared by the LLDP scenarios: a user to drop to, the report script in
# place of the feedback file, and LLDPDUs written by hand.

# add_user NAME ID: user and group NAME with ID, in this scenario's own view
# of /etc/passwd and /etc/group (bind mounts in its mount namespace).
add_user() {
  local name=$1 id=$2 f
  for f in passwd group; do
    cp "/etc/$f" "/tmp/$f"
    mount --bind "/tmp/$f" "/etc/$f"
  done
  echo "$name:x:$id:$id::/nonexistent:/usr/sbin/nologin" >> /etc/passwd
  echo "$name:x:$id:" >> /etc/group
}

# report_script: /tmp/run/vessik.fb as a script that appends each report,
# and a line "---" after it, to /tmp/run/reports.
report_script() {
  mkdir -p /tmp/run
  chmod 1777 /tmp/run
  printf '#!/bin/sh\n{ cat; echo; echo ---; } >> /tmp/run/reports\n' > /tmp/run/vessik.fb
  chmod 755 /tmp/run/vessik.fb
}

# report_count: reports received so far.
report_count() { grep -c '^---$' /tmp/run/reports 2> /dev/null || echo 0; }

# wait_reports N [TIMEOUT_S]: until at least N reports arrived.
wait_reports() {
  local n=$1 timeout=${2:-10}
  local deadline=$((SECONDS + timeout))
  while [ "$(report_count)" -lt "$n" ]; do
    [ $SECONDS -lt $deadline ] || fail "only $(report_count) of $n reports after ${timeout}s"
    sleep 0.05
  done
}

# report_with KEY=VALUE...: the reports holding every given line, one per
# line of output as "key=value;key=value;...".
report_with() {
  local r
  awk 'BEGIN { RS = "\n---\n" } { gsub("\n", ";"); print }' /tmp/run/reports | while IFS= read -r r; do
    local ok=1 kv
    for kv in "$@"; do
      case ";$r;" in *";$kv;"*) ;; *) ok=0 ;; esac
    done
    [ $ok = 1 ] && echo "$r"
  done
  return 0
}

# hex TEXT: the bytes of TEXT in hex.
hex() { printf '%s' "$1" | od -An -v -tx1 | tr -d ' \n'; }

# tlv TYPE HEXVALUE [LENGTH]: one TLV, its length field LENGTH when given.
tlv() {
  local len=${3:-$(( ${#2} / 2 ))}
  printf '%04x%s' $(( ($1 << 9) | len )) "$2"
}

# wait_dropped PID ID: until PID runs as user ID - its socket is open by then.
wait_dropped() {
  local pid=$1 id=$2
  for _ in $(seq 200); do
    grep -qP "^Uid:\t$id\t" "/proc/$pid/status" 2> /dev/null && return 0
    kill -0 "$pid" 2> /dev/null || fail "process $pid is gone"
    sleep 0.05
  done
  fail "process $pid never dropped to user $id"
}

# wait_lldpd SOCK [NETNS]: until lldpd behind SOCK has taken up an interface.
wait_lldpd() {
  local sock=$1 ns=${2:-}
  for _ in $(seq 200); do
    if [ -n "$ns" ]; then
      ip netns exec "$ns" lldpcli -u "$sock" show interfaces -f keyvalue 2> /dev/null | grep -q '\.ttl\.ttl=' && return 0
    else
      lldpcli -u "$sock" show interfaces -f keyvalue 2> /dev/null | grep -q '\.ttl\.ttl=' && return 0
    fi
    sleep 0.05
  done
  fail "lldpd at $sock took up no interface"
}
