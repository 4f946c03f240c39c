# Shared by the xDSL driver scenarios: run under nsrun with the paths of
# vdsl_devhost, vdslreq, chipsim and chipsimctl as arguments.
. "$(dirname "${BASH_SOURCE[0]}")/../../harness/lib.sh"
require_scenario_ns
devhost=$1 vdslreq=$2 chipsim=$3 chipsimctl=$4
. "$(dirname "${BASH_SOURCE[0]}")/lib_vdsl.sh"
