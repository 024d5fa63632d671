#!/usr/bin/env bash
# Configures and builds kestrova-viewer with Ninja and ccache.
#   tools/build.sh            the normal build in build/
#   tools/build.sh sanitize   clang with ASan + UBSan in build-sanitize/: the sanitized
#                             tests and the libFuzzer targets only
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
kind=${1:-normal}

export CCACHE_DIR=${CCACHE_DIR:-$HOME/.cache/ccache}
# Hits across clones in other folders (CI builds a fresh clone each time).
export CCACHE_BASEDIR=$root
export CCACHE_NOHASHDIR=true
export CCACHE_MAXSIZE=${CCACHE_MAXSIZE:-5G}

case "$kind" in
normal)
    dir=$root/build
    extra=()
    ;;
sanitize)
    dir=$root/build-sanitize
    extra=(-DKESTROVA_SANITIZE=ON -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++)
    ;;
*)
    echo "usage: $0 [normal|sanitize]" >&2
    exit 2
    ;;
esac

cmake -G Ninja -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache "${extra[@]}" >/dev/null
cmake --build "$dir"
