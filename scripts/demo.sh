#!/usr/bin/env bash
# Sets everything up and runs the demo window (offscreen with PNG screenshots when there is no display).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
python=$(bash "$root/scripts/setup.sh" 3.12)
cd "$root"
exec "$python" -m larkui.demo "$@"
