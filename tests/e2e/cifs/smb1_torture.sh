#!/usr/bin/env bash
# smbtorture's SMB1 tests (NT1 only) against vxcs with vxnd beside it: every
# test passes unless the allow-list names it with its reason; the server
# outlives them all without a sanitizer report.
set -euo pipefail
vxnd=$1 vxcs=$2 ctl=$3 allow=$4
. "$(dirname "$0")/lib_server.sh"
require_scenario_ns
command -v smbtorture > /dev/null || { echo "no smbtorture here: skipping" >&2; exit 77; }

share_and_peer
server_start "$vxnd" "$vxcs"
wait_port tcp 445
password='Secret#1'
add_user alice "$password"

# SMB1_TORTURE_TESTS picks some of them by hand.
tests=${SMB1_TORTURE_TESTS:-"base.tcon base.vuid base.chkpath base.trans2 base.dir1 base.rw1 base.open base.unlink base.rename
  base.attr base.deny1 base.ntdeny1 base.disconnect raw.open raw.read raw.write raw.close raw.mkdir raw.unlink
  raw.rename raw.search raw.qfileinfo raw.qfsinfo raw.sfileinfo raw.chkpath raw.seek raw.notify raw.oplock raw.mux"}
# shellcheck disable=SC2086 # the list splits into tests
torture_tests //127.0.0.1/Share "$allow" -U "alice%$password" --option='client min protocol=NT1' \
  --option='client max protocol=NT1' -- $tests
