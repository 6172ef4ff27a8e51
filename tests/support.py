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


def assert_no_leak(fn, *, warmup=200, rounds=2000, slack=40):
    """Calling fn() many times must not grow the interpreter's allocated blocks."""
    growth = allocated_growth(fn, warmup=warmup, rounds=rounds)
    assert growth <= slack, f"{growth} blocks still allocated after {rounds} calls"


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
