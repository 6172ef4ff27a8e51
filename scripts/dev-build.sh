#!/usr/bin/env bash
# Builds the extension modules into BUILD_DIR/pkg/larkui for quick iteration without pip.
# Usage: scripts/dev-build.sh BUILD_DIR [PYTHON]   then   PYTHONPATH=BUILD_DIR/pkg python ...
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:?build directory}
python=${2:-python3}
cmake -S "$root" -B "$build" -G Ninja -DPython_EXECUTABLE="$(command -v "$python")" >/dev/null
ninja -C "$build" >"$build/ninja.log" || { cat "$build/ninja.log" >&2; exit 1; }
mkdir -p "$build/pkg/larkui"
cp "$root"/src/larkui/*.py "$root"/src/larkui/*.pyi "$root"/src/larkui/py.typed "$build/pkg/larkui/"
cp "$build"/*.so "$build/pkg/larkui/"
rm -rf "$build/pkg/larkui/demo" && cp -r "$root/src/larkui/demo" "$build/pkg/larkui/demo"
