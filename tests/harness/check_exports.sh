#!/usr/bin/env bash
# check_exports.sh LIBRARY HEADER_DIR MACRO...: the shared library exports
# only the C interface its headers declare. Fails on any C++ symbol (_Z...)
# and on any defined dynamic symbol that no header of HEADER_DIR declares
# with one of the export MACROs. See cmake/FwLibrary.cmake.
set -euo pipefail
[ $# -ge 3 ] || { echo "usage: check_exports.sh LIBRARY HEADER_DIR MACRO..." >&2; exit 2; }
lib=$1
# Local entries (a MIPS library keeps some in its dynamic table) don't leave.
nm -D --defined-only "$lib" | awk '$2 ~ /^[A-Zuvw]$/ { print $NF }' | python3 -c '
import os, re, sys
lib, headers, macros = sys.argv[1], sys.argv[2], sys.argv[3:]
declared = set()
for root, _, files in os.walk(headers):
    for f in files:
        if not f.endswith((".h", ".hpp")):
            continue
        text = open(os.path.join(root, f), errors="replace").read()
        text = re.sub(r"/\*.*?\*/", " ", text, flags=re.S)
        text = re.sub(r"//[^\n]*", " ", text)
        text = re.sub(r"^\s*#.*$", " ", text, flags=re.M)
        for decl in re.split(r"[;{}]", text):
            if not any(re.search(r"\b%s\b" % m, decl) for m in macros):
                continue
            # A function: the name before its parameter list (past any
            # attribute of the macro itself); data: each declarator name.
            decl = re.sub(r"__attribute__\s*\(\(.*?\)\)", " ", decl)
            call = decl.find("(")
            if call >= 0:
                m = re.search(r"(\w+)\s*$", decl[:call])
                if m:
                    declared.add(m.group(1))
            else:
                for part in decl.split(","):
                    m = re.search(r"(\w+)\s*(\[[^\]]*\]\s*)*$", part.strip())
                    if m:
                        declared.add(m.group(1))
names = [l.strip() for l in sys.stdin if l.strip()]
linker = {"_init", "_fini", "_edata", "_end", "__bss_start"}
bad = []
for n in names:
    if n.startswith("_Z"):
        bad.append(n + "  (C++)")
        continue
    base = n[len("__odr_asan."):] if n.startswith("__odr_asan.") else n  # ASan beside a variable
    if n in linker or base in declared:
        continue
    bad.append(n + "  (not declared with %s)" % " or ".join(macros))
name = os.path.basename(lib)
if not names:
    print("FAIL: %s exports nothing" % name)
    sys.exit(1)
if bad:
    print("FAIL: %s exports %d of its %d symbols outside its C interface:" % (name, len(bad), len(names)))
    for b in bad[:60]:
        print("  " + b)
    sys.exit(1)
print("%s: %d symbols, each a C name its headers declare with %s" % (name, len(names), " or ".join(macros)))
' "$@"
