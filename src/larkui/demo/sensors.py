"""Simulated instruments for the demo: 1 kHz sensor channels and a chirp source.

Everything is generated here from a seeded random generator, so the demo needs no data files and
its screenshots come out the same on every run.
"""
from __future__ import annotations

import math

import numpy as np

SAMPLE_RATE = 1000  # samples per second, every channel


class Sensor:
    """One channel: baseline + slow random drift + a periodic part + white noise + dropouts.

    The drift is a mean-reverting random walk, so a channel wanders but stays plausible over a
    long run. A dropout is a burst of NaN samples, as a real acquisition card reports a lost
    connection.
    """

    def __init__(self, rng: np.random.Generator, *, base: float, drift: float = 0.0, drift_time_s: float = 20.0,
                 amplitude: float = 0.0, period_s: float = 1.0, phase: float = 0.0, noise: float = 0.0,
                 dropouts_per_min: float = 0.0, dropout_ms: tuple[int, int] = (30, 120)) -> None:
        self.rng = rng
        self.base = base
        self.drift_sigma = drift
        self.drift_time_s = drift_time_s
        self.amplitude = amplitude
        self.omega = 2 * math.pi / period_s
        self.phase = phase
        self.noise = noise
        self.dropout_p = dropouts_per_min / 60.0 / SAMPLE_RATE
        self.dropout_ms = dropout_ms
        self._drift = 0.0
        self._dropout_left = 0

    def read(self, start: int, count: int) -> np.ndarray:
        """Samples number start+1 .. start+count (sample n is taken at n / SAMPLE_RATE seconds)."""
        n = np.arange(start + 1, start + count + 1)
        t = n / SAMPLE_RATE
        # Drift: one mean-reverting step per block is plenty for a signal that moves over seconds.
        dt = count / SAMPLE_RATE
        keep = math.exp(-dt / self.drift_time_s)
        self._drift = self._drift * keep + self.drift_sigma * math.sqrt(1 - keep * keep) * self.rng.standard_normal()
        values = self.base + self._drift + self.amplitude * np.sin(self.omega * t + self.phase)
        if self.noise:
            values = values + self.noise * self.rng.standard_normal(count)
        self._apply_dropouts(values)
        return values

    def _apply_dropouts(self, values: np.ndarray) -> None:
        i = 0
        count = len(values)
        while i < count:
            if self._dropout_left:
                take = min(self._dropout_left, count - i)
                values[i:i + take] = np.nan
                self._dropout_left -= take
                i += take
                continue
            if not self.dropout_p:
                return
            # Samples until the next dropout starts (geometric), then its length.
            gap = int(self.rng.geometric(self.dropout_p))
            if i + gap >= count:
                return
            i += gap
            lo, hi = self.dropout_ms
            self._dropout_left = int(self.rng.integers(lo, hi + 1)) * SAMPLE_RATE // 1000


class ChirpSource:
    """A linear chirp sweeping up and starting over, on top of a 50 Hz hum and noise."""

    def __init__(self, rng: np.random.Generator, *, f0: float = 20.0, f1: float = 300.0, sweep_s: float = 10.0,
                 hum: float = 0.25, noise: float = 0.05) -> None:
        self.rng = rng
        self.f0, self.f1, self.sweep_s = f0, f1, sweep_s
        self.hum = hum
        self.noise = noise

    def frequency(self, sample: int) -> float:
        """The chirp's instantaneous frequency at a sample number, in Hz."""
        t = (sample / SAMPLE_RATE) % self.sweep_s
        return self.f0 + (self.f1 - self.f0) * t / self.sweep_s

    def read(self, start: int, count: int) -> np.ndarray:
        n = np.arange(start + 1, start + count + 1)
        t = n / SAMPLE_RATE
        ts = t % self.sweep_s
        rate = (self.f1 - self.f0) / self.sweep_s
        chirp = np.sin(2 * np.pi * (self.f0 * ts + 0.5 * rate * ts * ts))
        hum = self.hum * np.sin(2 * np.pi * 50.0 * t)
        return chirp + hum + self.noise * self.rng.standard_normal(count)


def magnitude_spectrum(frame: np.ndarray) -> np.ndarray:
    """Amplitude spectrum of a frame with a Hann window: a sine of amplitude A reads about A at its bin."""
    window = np.hanning(len(frame))
    return 2.0 * np.abs(np.fft.rfft(frame * window)) / window.sum()

