#!/usr/bin/env bash
# The namespace harness itself: isolation, placed files, exit status, clean-up.
# Runs on the host and starts nsrun as a test would.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
harness=$(cd "$here/../../harness" && pwd)
nsrun=$harness/nsrun
. "$harness/lib.sh"
fails=0
check() {  # check NAME COMMAND...: passes when COMMAND succeeds
  local name=$1
  shift
  if "$@"; then echo "ok   $name"; else echo "FAIL $name"; fails=$((fails + 1)); fi
}

"$nsrun" -- true
case $? in 0) ;; 77) echo "namespaces unavailable: skip"; exit 77 ;; *) echo "FAIL nsrun -- true"; exit 1 ;; esac

tag=nsrun-check-$$
# Not under /tmp: the scenario's own /tmp covers it.
work=$(mktemp -d "${FW_BUILD_DIR:-/var/tmp}/nsrun-check.XXXXXX")
on_exit rm -rf "$work" "/tmp/$tag-host" "/tmp/$tag-tree"

"$nsrun" -- sh -c 'exit 7'
check "exit status comes back" test $? = 7

# A checkout under /tmp (CI may clone there) stays in sight, its host
# neighbours do not.
mkdir -p "/tmp/$tag-tree/tree/sub" && echo 'echo kept' > "/tmp/$tag-tree/tree/sub/s.sh"
touch "/tmp/$tag-tree/neighbour"
check "a tree under /tmp stays in sight" test "$(cd "/tmp/$tag-tree/tree" &&
  "$nsrun" -- sh -c "bash /tmp/$tag-tree/tree/sub/s.sh; test -e /tmp/$tag-tree/neighbour || echo hidden")" = "kept
hidden"

check "hostname is the scenario's" test "$("$nsrun" --hostname box -- hostname)" = box
check "host keeps its hostname" test "$(hostname)" != box

check "only loopback, and up" test "$("$nsrun" -- sh -c 'ls /sys/class/net; ip -o link show lo | grep -c "UP"')" = "lo
1"

echo host > "/tmp/$tag-host"
"$nsrun" -- sh -c "test ! -e '/tmp/$tag-host' && touch /tmp/$tag && touch /run/$tag"
check "/tmp and /run are private" test $? = 0 -a ! -e "/tmp/$tag" -a ! -e "/run/$tag"

printf 'placed\n' > "$work/os-release"
before=$(md5sum < /etc/os-release)
check "an existing file shows the given content" \
  test "$("$nsrun" --file "/etc/os-release=$work/os-release" -- cat /etc/os-release)" = placed
"$nsrun" --file "/etc/os-release=$work/os-release" -- sh -c 'echo scribble > /etc/os-release'
check "the host's file is unchanged" test "$(md5sum < /etc/os-release)" = "$before"
check "the source is unchanged" test "$(cat "$work/os-release")" = placed

printf '#!/bin/sh\necho tool ran\n' > "$work/tool"
chmod +x "$work/tool"
printf 'one\n' > "$work/conf"
check "new files appear in /bin and /etc" test "$("$nsrun" --file "/bin/$tag=$work/tool" --file "/etc/$tag.conf=$work/conf" \
  -- sh -c "$tag && cat /etc/$tag.conf")" = "tool ran
one"
check "and not on the host" test ! -e "/bin/$tag" -a ! -e "/usr/bin/$tag" -a ! -e "/etc/$tag.conf"

"$nsrun" -- sh -c 'sleep 313.25 & exit 0'
gone() { ! pgrep -f "$1" > /dev/null; }
check "what the command started dies with it" wait_until 10 gone 'sleep 313.25'

"$nsrun" -- sleep 314.25 &
runner=$!
# The command itself, not nsrun's own command line: killed while unshare is
# still setting up, nsrun's namespace may outlive it.
wait_until 10 pgrep -f '^sleep 314.25' > /dev/null || fail "nsrun did not start its command"
kill -KILL "$runner"
wait "$runner" 2> /dev/null
check "a killed nsrun takes its namespace along" wait_until 10 gone 'sleep 314.25'

! bash -c ". '$harness/lib.sh'; require_scenario_ns" 2> /dev/null
check "the guard refuses the host's namespace" test $? = 0
check "the guard accepts a scenario" "$nsrun" -- bash -c ". '$harness/lib.sh'; require_scenario_ns"

cat > "$work/hosts.sh" << 'EOS'
set -eu
. "$1/lib.sh"
require_scenario_ns
ns_add_host peer 10.62.0.2/24 10.62.0.1/24
ns_exec peer python3 -c '
import socket
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("10.62.0.2", 5000))
data, addr = s.recvfrom(100)
open("/tmp/got", "w").write("%s from %s" % (data.decode(), addr[0]))
' &
wait_port udp 5000 10 peer
python3 -c '
import socket
socket.socket(socket.AF_INET, socket.SOCK_DGRAM).sendto(b"hello", ("10.62.0.2", 5000))'
wait_file /tmp/got 5
cat /tmp/got
EOS
check "a second host answers over its veth pair" \
  test "$("$nsrun" -- bash "$work/hosts.sh" "$harness")" = "hello from 10.62.0.1"

# The throwaway root: what the command writes outside its kept folder
# vanishes with it; the kept folder keeps it.
mkdir "$work/kept"
(cd "$work" && "$harness/throwaway_root" --keep "$work/kept" -- sh -c \
  "echo lost > /etc/$tag-probe && echo kept > kept/file && test -e /etc/$tag-probe")
check "a throwaway root runs its command in the working folder... " test $? = 0
check "...loses what it wrote elsewhere" test ! -e "/etc/$tag-probe"
check "...and keeps its kept folder" test "$(cat "$work/kept/file" 2> /dev/null)" = kept

[ $fails = 0 ] && echo PASS
exit $((fails > 0))
