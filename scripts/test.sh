#!/usr/bin/env bash
# Sets everything up and runs every check: the whole test suite under Python 3.12, 3.11 and 3.13,
# warning-free builds with GCC and Clang, the suite against an AddressSanitizer and
# UndefinedBehaviorSanitizer build, the demo in a real (virtual) X display, and a built wheel
# installed into a fresh venv.
# Every stage runs even when an earlier one failed; the exit status is non-zero when any failed.
# Arguments go to each pytest run (e.g. -x, -k NAME). LARKUI_STAGES="suite-3.12 sanitize" runs only
# the stages named (tools, suite-3.12, suite-3.11, suite-3.13, werror-gcc, werror-clang, sanitize, display,
# wheel).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/common.sh"
cd "$root"
pytest_args=("$@")
build_root="$root/build"

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.1f", b - a }'; }

clang_asan_runtime() { clang++ -print-file-name=libclang_rt.asan-x86_64.so; }
clang_symbolizer() {
    local candidate="/usr/lib/llvm-$(clang++ -dumpversion | cut -d. -f1)/bin/llvm-symbolizer"
    if [ -x "$candidate" ]; then echo "$candidate"; else command -v llvm-symbolizer || true; fi
}

suite() {  # PYTHON [VARIABLE=VALUE...]: the whole suite, tests and fernkit's, in that environment
    env "${@:2}" "$1" -m pytest -q -p no:cacheprovider tests fernkit/tests ${pytest_args[@]+"${pytest_args[@]}"}
}

# ---------------------------------------------------------------- stages

# The compilers, Clang's sanitizer runtime and symbolizer, and the X server the later stages use.
stage_tools() {
    local major
    command -v clang++ >/dev/null || apt_install clang || echo "cannot install clang" >&2
    if command -v clang++ >/dev/null; then
        clang++ --version | head -1
        major=$(clang++ -dumpversion | cut -d. -f1)
        [ -f "$(clang_asan_runtime)" ] || apt_install "libclang-rt-$major-dev" || echo "cannot install libclang-rt-$major-dev" >&2
        [ -n "$(clang_symbolizer)" ] || apt_install "llvm-$major" || echo "cannot install llvm-$major" >&2
    fi
    command -v Xvfb >/dev/null || apt_install xvfb || echo "cannot install xvfb" >&2
    command -v Xvfb
}

stage_suite() {  # VERSION
    local python
    python=$(bash scripts/setup.sh "$1")
    "$python" -c "import PySide6, numpy, sys; print('Python', sys.version.split()[0], '· PySide6', PySide6.__version__, '· NumPy', numpy.__version__)"
    suite "$python"
}

# The modules built with warnings as errors, into their own build folder per compiler.
stage_werror() {  # gcc | clang
    local cxx python build="$build_root/ci-werror-$1"
    case $1 in gcc) cxx=g++ ;; clang) cxx=clang++ ;; esac
    command -v "$cxx" >/dev/null || { echo "$cxx is missing" >&2; return 1; }
    python=$(bash scripts/setup.sh 3.12)
    "$cxx" --version | head -1
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER="$cxx" -DLARKUI_WERROR=ON \
        -DPython_EXECUTABLE="$python" >/dev/null
    ninja -C "$build"
}

# The whole suite under Python 3.12 against modules built with AddressSanitizer and
# UndefinedBehaviorSanitizer. Clang, because its ASan runtime carries UBSan too and so writes UBSan's
# reports to log_path as well (GCC's libubsan prints them to stderr whatever the options say).
# The interpreter, Qt and NumPy stay uninstrumented.
stage_sanitize() {
    local python build="$build_root/ci-sanitize" logs status=0 runtime
    python=$(bash scripts/setup.sh 3.12)
    runtime=$(clang_asan_runtime)
    [ -f "$runtime" ] || { echo "Clang's ASan runtime is missing ($runtime)" >&2; return 1; }
    local sanitize="-fsanitize=address,undefined"
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_CXX_FLAGS="$sanitize -fno-omit-frame-pointer -fno-sanitize-recover=undefined" \
        -DCMAKE_MODULE_LINKER_FLAGS="$sanitize -shared-libasan" -DCMAKE_SHARED_LINKER_FLAGS="$sanitize -shared-libasan" \
        -DPython_EXECUTABLE="$python" >/dev/null
    local start
    start=$(now)
    bash scripts/dev-build.sh "$build" "$python"  # keeps the settings above, assembles $build/pkg
    echo "sanitized build: $(elapsed "$start") s"
    logs="$build/sanitizer-logs"
    rm -rf "$logs"
    mkdir -p "$logs"

    # The interpreter is not linked with ASan, so its runtime must be loaded before everything else.
    # PYTHONMALLOC=malloc: Python objects come from malloc, where ASan sees them, not from
    #   pymalloc's arenas (which hide overflows and use after free inside them).
    # detect_leaks=0: the interpreter and Qt keep memory until the process ends, on purpose.
    # log_path: reports go to files, one per process, so that a report from a subprocess a test starts
    #   (python -c ..., the demo, mypy) is not lost when the test ignores that process's output.
    local env=(
        LD_PRELOAD="$runtime"
        PYTHONMALLOC=malloc
        ASAN_OPTIONS="detect_leaks=0:halt_on_error=1:log_path=$logs/asan"
        UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:log_path=$logs/ubsan"
        ASAN_SYMBOLIZER_PATH="$(clang_symbolizer)"
        PYTHONPATH="$build/pkg"
    )
    # The tests must load the instrumented modules, not the ones installed in the venv.
    env "${env[@]}" "$python" - "$build/pkg" <<'EOF' || status=1
import os, sys
import larkui.choosers, larkui.finders, larkui.graphs, larkui.plotdeck, larkui.streaming
pkg = os.path.realpath(sys.argv[1])
for module in (larkui.plotdeck, larkui.choosers, larkui.finders, larkui.streaming, larkui.graphs):
    print("imported", module.__file__)
    if not os.path.realpath(module.__file__).startswith(pkg + os.sep):
        sys.exit(f"{module.__name__} does not come from the sanitized build in {pkg}")
with open("/proc/self/maps") as maps:
    if "asan" not in maps.read():
        sys.exit("the ASan runtime is not loaded")
EOF
    local start
    start=$(now)
    suite "$python" "${env[@]}" || status=1
    echo "sanitized suite: $(elapsed "$start") s"
    local log reports=0
    for log in "$logs"/*; do
        [ -s "$log" ] || continue
        reports=$((reports + 1))
        echo "--- sanitizer report $log ($(wc -l <"$log") lines, the first 60):"
        head -n 60 "$log"
    done
    if [ "$reports" -gt 0 ]; then
        echo "$reports sanitizer report(s)" >&2
        status=1
    fi
    return $status
}

# A first run on a machine with a display: the demo opens its window on a virtual X server (the
# set-up installs the X libraries Qt's xcb plugin needs), runs five seconds and must exit 0.
stage_display() {
    command -v Xvfb >/dev/null || { echo "Xvfb is missing" >&2; return 1; }
    local display_file xvfb_pid display="" i
    display_file=$(mktemp)
    # -displayfd: the server picks a free display itself and writes its number once it accepts clients.
    Xvfb -displayfd 3 -screen 0 1600x1000x24 -nolisten tcp 3>"$display_file" >"$display_file.log" 2>&1 &
    xvfb_pid=$!
    # Stopped whatever happens (this stage runs in its own subshell).
    trap "kill $xvfb_pid 2>/dev/null; wait $xvfb_pid 2>/dev/null; rm -f '$display_file' '$display_file.log'" EXIT
    trap 'exit 130' INT TERM
    for i in $(seq 100); do
        display=$(head -1 "$display_file")
        [ -n "$display" ] && break
        kill -0 "$xvfb_pid" 2>/dev/null || break
        sleep 0.1
    done
    [ -n "$display" ] || { echo "Xvfb did not start:" >&2; cat "$display_file.log" >&2; return 1; }
    echo "Xvfb on :$display"
    env -u QT_QPA_PLATFORM -u WAYLAND_DISPLAY DISPLAY=":$display" \
        timeout --kill-after=10 300 bash scripts/demo.sh --exit-after 5
}

# A wheel a package index accepts: the sdist, a manylinux wheel built from it (auditwheel, twine
# check), installed into a fresh venv with no build tools and checked there by the whole suite.
stage_wheel() {
    bash scripts/check-wheel.sh 3.12
}

# ---------------------------------------------------------------- running them

names=()
results=()
times=()
failed=0
run_stage() {  # NAME FUNCTION [ARGS...]
    local name=$1 start rc
    shift
    if [ -n "${LARKUI_STAGES:-}" ] && [[ " $LARKUI_STAGES " != *" $name "* ]]; then return 0; fi
    echo
    echo "=== $name ==="
    start=$(now)
    set +e
    ( set -e; "$@" )
    rc=$?
    set -e
    names+=("$name")
    times+=("$(elapsed "$start")")
    if [ $rc = 0 ]; then results+=(ok); else results+=("FAILED ($rc)"); failed=1; fi
    echo "--- $name: ${results[-1]} in ${times[-1]} s"
}

total_start=$(now)
echo "load average at the start: $(cut -d' ' -f1-3 /proc/loadavg)"
run_stage tools stage_tools
run_stage suite-3.12 stage_suite 3.12
run_stage suite-3.11 stage_suite 3.11
run_stage suite-3.13 stage_suite 3.13
run_stage werror-gcc stage_werror gcc
run_stage werror-clang stage_werror clang
run_stage sanitize stage_sanitize
run_stage display stage_display
run_stage wheel stage_wheel

echo
echo "=== summary ==="
for i in "${!names[@]}"; do
    printf '%-14s %-12s %8s s\n' "${names[$i]}" "${results[$i]}" "${times[$i]}"
done
printf '%-14s %-12s %8s s\n' total "$([ $failed = 0 ] && echo ok || echo FAILED)" "$(elapsed "$total_start")"
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
exit $failed
