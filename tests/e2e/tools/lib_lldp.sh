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
