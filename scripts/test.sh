#!/usr/bin/env bash
# Sets everything up and runs the whole test suite, under Python 3.12 and again under 3.11.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
status=0
for version in 3.12 3.11; do
    echo "=== Python $version ==="
    python=$(bash scripts/setup.sh "$version")
    "$python" -m pytest -q -p no:cacheprovider tests fernkit/tests "$@" || status=1
done
exit $status
