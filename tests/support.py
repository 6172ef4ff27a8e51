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
