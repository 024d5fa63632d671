#!/usr/bin/env bash
# The shared library exports exactly the four C functions, unmangled.
set -euo pipefail
lib=$1
exports=$(nm -D --defined-only "$lib" | awk '$2 ~ /^[TtWwDdBbRr]$/ {print $3}' | sort)
want=$(printf '%s\n' nimblesieve_vm_free nimblesieve_vm_load nimblesieve_vm_new nimblesieve_vm_run)
if [ "$exports" != "$want" ]; then
    echo "unexpected exports of $lib:"
    echo "$exports"
    exit 1
fi
echo "exports: $(echo $exports)"
