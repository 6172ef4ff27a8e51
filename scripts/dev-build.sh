#!/usr/bin/env bash
# Builds the extension modules into BUILD_DIR/pkg/larkui for quick iteration without pip.
# Usage: scripts/dev-build.sh BUILD_DIR [PYTHON]   then   PYTHONPATH=BUILD_DIR/pkg python ...
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:?build directory}
python=${2:-python3}
# CMake ignores a relative interpreter path and falls back to the first python3 on PATH.
python=$(command -v "$python")
case $python in /*) ;; *) python=$PWD/$python ;; esac
cmake -S "$root" -B "$build" -G Ninja -DPython_EXECUTABLE="$python" >/dev/null
ninja -C "$build" >"$build/ninja.log" || { cat "$build/ninja.log" >&2; exit 1; }
mkdir -p "$build/pkg/larkui"
cp "$root"/src/larkui/*.py "$root"/src/larkui/*.pyi "$root"/src/larkui/py.typed "$build/pkg/larkui/"
cp "$build"/*.so "$build/pkg/larkui/"
rm -rf "$build/pkg/larkui/demo" && cp -r "$root/src/larkui/demo" "$build/pkg/larkui/demo"
