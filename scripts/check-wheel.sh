#!/usr/bin/env bash
# Installs a built larkui wheel the way a user would, into a fresh venv that has no build tools
# and needs no compiler (the wheel, its runtime dependencies from PyPI, the fernkit stand-in from
# ./fernkit and the test tools), then runs the test suite from a folder outside the source tree,
# so that every test imports the installed package.
# Usage: scripts/check-wheel.sh VERSION [WHEEL]
#   without WHEEL, first builds the sdist and this version's wheel (scripts/wheels.sh --no-check VERSION)
# Qt's offscreen platform needs a few system libraries; scripts/setup.sh installs them.
set -euo pipefail
source "$(dirname "$0")/wheel-common.sh"
version=${1:?usage: scripts/check-wheel.sh VERSION [WHEEL]}
abi="cp${version/./}"
started=$SECONDS

wheel=${2:-}
if [ -z "$wheel" ]; then
    bash "$root/scripts/wheels.sh" --no-check "$version" >&2
    wheel=$(ls -t "$dist"/larkui-*-"$abi-$abi"-*manylinux*.whl | head -n 1)
fi
wheel=$(realpath "$wheel")

# Everything below runs in a copy of the tests outside the source tree, where only the
# installed larkui can be imported.
unset PYTHONPATH
suite=$(mktemp -d "${TMPDIR:-/tmp}/larkui-wheel-suite.XXXXXX")
trap 'rm -rf "$suite"' EXIT
# Exactly the paths [tool.cibuildwheel] test-sources names, so that this run shows the list is
# what the suite needs.
while IFS= read -r path; do
    mkdir -p "$suite/$(dirname "$path")"
    cp -r "$root/$path" "$suite/$path"
done < <(python3 -c 'import sys, tomllib; print(*tomllib.load(open(sys.argv[1], "rb"))["tool"]["cibuildwheel"]["test-sources"], sep="\n")' "$root/pyproject.toml")
cd "$suite"

venv="$work/test-$version"
python="$venv/bin/python"
pip=("$python" -m pip "${pip_flags[@]}")
step "fresh venv" make_venv "$venv" "$version" --fresh
# ensurepip of 3.11 still brings setuptools along: a user's venv need not have it.
"${pip[@]}" uninstall -y setuptools wheel >/dev/null 2>&1 || true

# Binary packages only, so nothing here can be compiled; the wheel's own tags must fit.
step "install the wheel" "${pip[@]}" install --only-binary :all: "$wheel[test]"
say "installed $(wheel_tags "$python" "$wheel")"

# Without the outside file utility, larkui.choosers cannot be imported: the README says so.
if QT_QPA_PLATFORM=offscreen "$python" -c "import larkui.choosers" >/dev/null 2>&1; then
    say "larkui.choosers imported without fernkit installed"; exit 1
fi
step "install fernkit" "${pip[@]}" install "$root/fernkit"
"${pip[@]}" check >&2

"$python" - "$venv" "$wheel" <<'EOF'
import importlib.metadata as md, importlib.util, pathlib, sys
venv, wheel = pathlib.Path(sys.argv[1]).resolve(), pathlib.Path(sys.argv[2]).name
import larkui
where = pathlib.Path(larkui.__file__).resolve()
if venv not in where.parents:
    sys.exit(f"larkui imported from {where}, not from the venv")
if larkui.__version__ != wheel.split("-")[1]:
    sys.exit(f"larkui.__version__ is {larkui.__version__!r}, the wheel is {wheel}")
tools = [m for m in ("setuptools", "scikit_build_core", "cmake", "ninja") if importlib.util.find_spec(m)]
if tools:
    sys.exit(f"build tools in the venv: {tools}")
versions = ", ".join(f"{d} {md.version(d)}" for d in ("PySide6-Essentials", "PySide6-Addons", "numpy", "fernkit"))
print(f"[check-wheel] larkui {larkui.__version__} from {where.parent}; {versions}", file=sys.stderr)
EOF

if ! QT_QPA_PLATFORM=offscreen "$python" -c "from PySide6.QtWidgets import QApplication; QApplication([])" >/dev/null 2>&1; then
    say "PySide6 cannot start on the offscreen platform: run scripts/setup.sh $version once (it installs the libraries Qt needs)"
    exit 1
fi
status=0
# The test-only hook modules are compiled from the source tree (tests/native, CMakeLists.txt).
step "test suite" env LARKUI_SOURCE_DIR="$root" "$python" -m pytest -q -p no:cacheprovider tests fernkit/tests \
    || status=$?
say "Python $version: $([ $status = 0 ] && echo passed || echo FAILED) in $((SECONDS - started)) s"
exit $status
