#!/usr/bin/env bash
# check_kernel_objects.sh NM LIBGCC OBJECT...: the kernel objects call nothing
# from the compiler's run-time library (LIBGCC) beyond the 64-bit shifts and
# compares the MIPS kernel carries itself, and no out-of-line atomic. The
# kernel links no libgcc: such a call leaves the module unloadable.
set -euo pipefail
[ $# -ge 3 ] || { echo "usage: check_kernel_objects.sh NM LIBGCC OBJECT..." >&2; exit 2; }
nm=$1 libgcc=$2
shift 2
kernel_has='^__(ashldi3|ashrdi3|lshrdi3|cmpdi2|ucmpdi2)$'
runtime=$("$nm" --defined-only "$libgcc" 2>/dev/null | awk 'NF == 3 { print $3 }' | sort -u)
[ -n "$runtime" ] || { echo "no symbols read from $libgcc" >&2; exit 2; }
status=0
for obj in "$@"; do
  while read -r sym; do
    if [[ $sym =~ ^__(atomic|sync)_ ]] || { grep -qxF -- "$sym" <<< "$runtime" && ! [[ $sym =~ $kernel_has ]]; }; then
      echo "$(basename "$obj"): calls $sym, which the kernel does not have" >&2
      status=1
    fi
  done < <("$nm" --undefined-only "$obj" | awk '{ print $NF }')
done
exit $status
