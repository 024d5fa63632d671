#!/usr/bin/env bash
# Runs the whole test suite headless on a Debian 12 machine, as root: installs what is
# missing, builds the normal and the sanitizer configuration, starts a private X server
# and runs every test except the benchmarks.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash tools/setup-debian.sh
bash tools/build.sh normal
bash tools/build.sh sanitize

source tools/headless-env.sh

jobs=${KESTROVA_TEST_JOBS:-2}
status=0
passed=0
failed=0
for dir in build-sanitize build; do
    echo "== ctest in $dir"
    log=$(mktemp)
    if ! ctest --test-dir "$dir" -LE bench --output-on-failure -j "$jobs" 2>&1 | tee "$log"; then
        status=1
    fi
    # "100% tests passed, 0 tests failed out of 12"
    summary=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -1 || true)
    if [ -z "$summary" ]; then
        echo "no test summary from ctest in $dir"
        status=1
    else
        total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$summary")
        bad=$(sed -E 's/.*, ([0-9]+) tests? failed.*/\1/' <<<"$summary")
        passed=$((passed + total - bad))
        failed=$((failed + bad))
    fi
    rm -f "$log"
done

echo "${passed} passed, ${failed} failed"
if [ "$failed" -ne 0 ]; then
    status=1
fi
exit "$status"
