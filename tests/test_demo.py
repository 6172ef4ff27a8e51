"""The demo runs offscreen for a few simulated seconds; its screenshots must show what a person looks for."""
import json
import os
import subprocess
import sys
from importlib import resources
from pathlib import Path

import numpy as np
import pytest

TICKS = 200  # 8 simulated seconds: past the point where the demo starts trimming its streaming series


@pytest.fixture(scope="module")
def demo(tmp_path_factory):
    """One offscreen run of the demo package that the tests import, as `python -m larkui.demo` runs it."""
    import larkui

    out = tmp_path_factory.mktemp("demo")
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    env["PYTHONPATH"] = os.pathsep.join(p for p in (str(Path(larkui.__file__).parent.parent),
                                                    env.get("PYTHONPATH")) if p)
    proc = subprocess.run([sys.executable, "-m", "larkui.demo", "--offscreen", "--ticks", str(TICKS),
                           "--screenshots", str(out), "--readme-screenshot", str(out / "readme.png")],
                          cwd=out, env=env, capture_output=True, text=True, timeout=300)
    assert proc.returncode == 0, proc.stdout + proc.stderr
    summary = json.loads((out / "summary.json").read_text(encoding="utf-8"))
    return proc, out, summary


def test_window_description_is_package_data():
    ui = resources.files("larkui.demo").joinpath("window.ui")
    assert ui.is_file() and b'name="chartArea"' in ui.read_bytes()


def pixels(path):
    """An image file as an (h, w, 3) uint8 array."""
    from PySide6.QtGui import QImage

    image = QImage(str(path)).convertToFormat(QImage.Format.Format_RGB32)
    assert not image.isNull(), path
    h, w = image.height(), image.width()
    raw = np.frombuffer(image.constBits(), np.uint8, count=h * image.bytesPerLine()).reshape(h, image.bytesPerLine())
    return raw[:, :w * 4].reshape(h, w, 4)[:, :, 2::-1].copy()  # BGRA in memory -> RGB


def plot_area(chart, rgb):
    """The pixels inside the chart's plot area (a few pixels in from its frame)."""
    x, y, w, h = (int(round(v)) for v in chart["plot_area"])
    return rgb[y + 3:y + h - 3, x + 3:x + w - 3]


def colour_pixels(region, hex_colour, tolerance=60):
    target = np.array([int(hex_colour[i:i + 2], 16) for i in (1, 3, 5)], dtype=np.int32)
    return int((np.abs(region.astype(np.int32) - target).sum(axis=2) < tolerance).sum())


def test_prints_its_measurements(demo):
    proc, _, _ = demo
    assert "points/s" in proc.stdout and "sync median" in proc.stdout
    assert f"{TICKS} ticks" in proc.stdout


def test_every_tab_has_its_screenshot(demo):
    _, out, summary = demo
    assert [t["label"] for t in summary["tabs"]] == ["Streaming", "Spectrum"]
    shots = [pixels(out / t["screenshot"]) for t in summary["tabs"]]
    assert shots[0].shape == shots[1].shape and shots[0].shape[0] >= 600 and shots[0].shape[1] >= 1000
    # Different tabs show different things.
    assert (np.abs(shots[0].astype(int) - shots[1].astype(int)).sum(axis=2) > 30).mean() > 0.05
    assert (pixels(out / "readme.png") == shots[0]).all()
    tabs_of_charts = {c["tab"] for c in summary["charts"].values()}
    assert tabs_of_charts == {"Streaming", "Spectrum"} and len(summary["charts"]) == 8


def test_charts_are_drawn(demo):
    """Every chart has a busy plot area, with each visible series' colour in it and a hidden one's not."""
    _, out, summary = demo
    for host, chart in summary["charts"].items():
        area = plot_area(chart, pixels(out / chart["screenshot"]))
        assert area.std() > 2, f"{host} looks blank"
        for name, series in chart["series"].items():
            found = colour_pixels(area, series["color"])
            if series["visible"]:
                wanted = min(60, 10 * series["points_in_window"])  # a line, or a few markers
                assert found >= wanted, f"{host}: series {name} is not drawn ({found} pixels)"
            else:
                assert found < 10, f"{host}: hidden series {name} is drawn ({found} pixels)"


def test_hidden_series_is_left_out(demo):
    _, _, summary = demo
    hidden = [(host, name) for host, c in summary["charts"].items() for name, s in c["series"].items()
              if not s["visible"]]
    assert hidden == [("w_vibration", "Z")]


def test_streaming_axes_follow_the_data(demo):
    _, _, summary = demo
    window = summary["window_samples"]
    for host, chart in summary["charts"].items():
        if chart["tab"] != "Streaming":
            continue
        visible = [s for s in chart["series"].values() if s["visible"]]
        newest = max(s["last_x"] for s in visible)
        assert newest == summary["samples_per_channel"]
        assert chart["x_range"] == [newest - window + 1, newest], host
        assert_y_range_fits(host, chart, visible, slack=4.0)
        # The demo bounds its series: points of a line older than one and a half windows were dropped.
        for s in visible:
            assert s["count"] <= summary["series_cap"], host
            if s["kind"] == "QLineSeries":
                assert s["first_x"] >= newest - 1.5 * window, host


def test_snapshot_axes_follow_the_data(demo):
    _, _, summary = demo
    for host, chart in summary["charts"].items():
        if chart["tab"] != "Spectrum":
            continue
        visible = [s for s in chart["series"].values() if s["visible"]]
        # A frame of n points at offset o spans o .. o + n.
        assert chart["x_range"] == [min(s["first_x"] for s in visible),
                                    max(s["last_x"] for s in visible) + 1], host
        assert_y_range_fits(host, chart, visible, slack=0.0)


def assert_y_range_fits(host, chart, visible, slack):
    """The y axis shows all visible data and is not much wider than it (or it is the fixed range)."""
    y_lo, y_hi = chart["y_range"]
    if chart["fixed_y_range"]:
        assert [y_lo, y_hi] == chart["fixed_y_range"], host
        return
    def extreme(pick, key):
        return pick(s[key] for s in visible if s[key] is not None)

    shown_lo, shown_hi = extreme(min, "y_min_in_window"), extreme(max, "y_max_in_window")
    assert y_lo <= shown_lo and shown_hi <= y_hi, (host, chart["y_range"], shown_lo, shown_hi)
    fed_lo, fed_hi = extreme(min, "y_min_fed"), extreme(max, "y_max_fed")
    assert (y_hi - y_lo) <= 1.25 * (fed_hi - fed_lo) + slack + 1e-9, (host, chart["y_range"], fed_lo, fed_hi)


def test_files_panel_lists_the_collected_files(demo):
    _, _, summary = demo
    files = summary["files"]
    # Sorted by the date code in their names, files without one last; .txt is not collected.
    assert files["listed"] == ["pump_20250227.csv", "pump_20250228_171000.csv", "pump_20250301_081500.csv",
                               "pump_20250301_120000.bin", "calibration.csv"]
    assert files["output"].startswith("Output folder: ") and files["output"].endswith("results")
    # The folder chosen in the dialog is remembered on the window.
    assert files["last_dir"] == "Last folder: " + files["path"]
