"""Helpers shared by the test modules."""
import gc
import subprocess
import sys
import textwrap


def allocated_growth(fn, *, warmup=200, rounds=2000):
    """Blocks still allocated after calling fn() `rounds` times, once warmed up."""
    for _ in range(warmup):
        fn()
    gc.collect()
    before = sys.getallocatedblocks()
    for _ in range(rounds):
        fn()
    gc.collect()
    return sys.getallocatedblocks() - before


def assert_no_leak(fn, *, warmup=200, rounds=2000, slack=40, attempts=3):
    """Calling fn() many times must not grow the interpreter's allocated blocks.

    Caches inside Qt and the interpreter settle at their own pace, so a round may grow once;
    a real leak grows in every round, so the check passes when any round stays flat.
    """
    growths = []
    for _ in range(attempts):
        growths.append(allocated_growth(fn, warmup=warmup, rounds=rounds))
        if growths[-1] <= slack:
            return
    raise AssertionError(f"blocks still allocated after {rounds} calls, per round: {growths}")


def call_swallowing(fn, *args, **kwargs):
    """A zero-argument callable that calls fn and ignores an Exception it raises."""

    def run():
        try:
            fn(*args, **kwargs)
        except Exception:
            pass

    return run


def run_python(code, env=None):
    """Runs code in a fresh interpreter (offscreen Qt) and returns the finished process."""
    import os

    full_env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    if env:
        full_env.update(env)
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True,
                          env=full_env, timeout=300)


def hook_modules_dir():
    """Builds the test suite's hook modules for this interpreter with CMake (later runs reuse the
    build) and returns their folder. They are importable as larkui._hooks... once the folder is on
    larkui.__path__ (see the `hooks` fixture)."""
    import hashlib
    import os
    import shutil
    from pathlib import Path

    root = Path(os.environ.get("LARKUI_SOURCE_DIR") or Path(__file__).resolve().parents[1])
    flags = os.environ.get("CXXFLAGS", "")
    tag = sys.implementation.cache_tag + ("-" + hashlib.sha1(flags.encode()).hexdigest()[:8] if flags else "")
    build = root / "build" / f"test-hooks-{tag}"
    cmake = shutil.which("cmake")
    assert cmake, "the hook modules need cmake on PATH"
    configure = [cmake, "-S", str(root), "-B", str(build), f"-DPython_EXECUTABLE={sys.executable}",
                 "-DLARKUI_TEST_HOOKS=ON", "-DCMAKE_BUILD_TYPE=Debug"]
    if shutil.which("ninja") and not (build / "CMakeCache.txt").exists():
        configure += ["-G", "Ninja"]
    for command in (configure, [cmake, "--build", str(build), "--target", "_hooks", "_hooks_other_minor",
                                "_hooks_other_major"]):
        proc = subprocess.run(command, capture_output=True, text=True)
        assert proc.returncode == 0, proc.stdout + proc.stderr
    return build
