"""The demo runs offscreen for a few simulated seconds; its screenshots must show what a person looks for."""
import json
import math
import os
import subprocess
import sys
from importlib import resources
from pathlib import Path

import numpy as np
import pytest

TICKS = 200  # 8 simulated seconds: the 4 s windows have been full for half the run


@pytest.fixture(scope="module")
def demo(tmp_path_factory):
    """One offscreen run of the demo package that the tests import, as `python -m larkui.demo` runs it."""
    import larkui

    out = tmp_path_factory.mktemp("demo")
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    env["PYTHONPATH"] = os.pathsep.join(p for p in (str(Path(larkui.__file__).parent.parent),
                                                    env.get("PYTHONPATH")) if p)
    proc = subprocess.run([sys.executable, "-m", "larkui.demo", "--offscreen", "--ticks", str(TICKS),
                           "--screenshots", str(out), "--readme-screenshot", str(out / "readme.png"),
                           "--inspect-screenshot", str(out / "inspect-copy.png")],
                          cwd=out, env=env, capture_output=True, text=True, timeout=300)
    assert proc.returncode == 0, proc.stdout + proc.stderr
    summary = json.loads((out / "summary.json").read_text(encoding="utf-8"))
    return proc, out, summary


@pytest.fixture(scope="module")
def window():
    """A demo window in this process, for the files panel and the interactive run."""
    from larkui.demo.app import DemoWindow

    demo = DemoWindow(7)
    yield demo
    demo.window.close()
    demo.window.deleteLater()


def test_window_description_is_package_data():
    ui = resources.files("larkui.demo").joinpath("window.ui")
    assert ui.is_file() and b'name="chartArea"' in ui.read_bytes()


@pytest.mark.parametrize("argv, option", [
    (["--ticks", "0"], "--ticks"),
    (["--ticks", "-3"], "--ticks"),
    (["--ticks", "1.5"], "--ticks"),
    (["--minutes", "0"], "--minutes"),
    (["--minutes", "-1"], "--minutes"),
    (["--minutes", "0.0001"], "--minutes"),  # less than one 40 ms tick
    (["--minutes", "nan"], "--minutes"),
    (["--report-every", "0"], "--report-every"),
    (["--display-budget", "-1"], "--display-budget"),
    (["--display-budget", "many"], "--display-budget"),
    (["--exit-after", "0"], "--exit-after"),
    (["--exit-after", "-5"], "--exit-after"),
    (["--exit-after", "inf"], "--exit-after"),
])
def test_bad_option_values_are_refused(argv, option, capsys):
    from larkui.demo.app import main

    with pytest.raises(SystemExit) as exc:
        main(argv)
    assert exc.value.code == 2
    err = capsys.readouterr().err
    assert f"error: argument {option}: " in err, err


def test_exit_after_closes_the_window_and_ends_the_run(window, qapp, capsys):
    from larkui.demo.app import run_interactive

    # How many ticks fit into the run depends on the machine's load: only the outcome is checked.
    status = run_interactive(qapp, window, exit_after=0.3)
    assert status == 0 and not window.window.isVisible()
    line = capsys.readouterr().out.strip().splitlines()[-1]
    assert line.startswith("window closed after") and "ticks" in line, line
    assert int(line.split(": ")[1].split()[0]) >= 0, line


class FolderDialog:
    """Stands in for QFileDialog: records where the dialog would open and picks `answer`."""

    def __init__(self, answer):
        self.answer, self.started_in = answer, []

    def getExistingDirectory(self, parent, title, start_dir):
        self.started_in.append(start_dir)
        return str(self.answer)


@pytest.mark.parametrize("typed, starts_in", [
    ("{data}", "{data}"),             # a folder typed into the line edit
    ("  {data}  ", "{data}"),         # blanks around it do not matter
    ("{data}/missing", "{remembered}"),  # not a folder: the folder chosen last time
    ("{data}/run.csv", "{remembered}"),  # a file, not a folder
    ("", "{remembered}"),
])
def test_browse_starts_in_the_typed_folder(window, tmp_path, monkeypatch, typed, starts_in):
    import larkui.choosers as choosers
    from larkui.demo.app import LAST_DIR_ATTR

    data, remembered = tmp_path / "data", tmp_path / "remembered"
    (data / "picked").mkdir(parents=True)
    remembered.mkdir()
    (data / "run.csv").write_text("1\n")
    dialog = FolderDialog(data / "picked")
    monkeypatch.setattr(choosers, "QFileDialog", dialog)
    setattr(window.window, LAST_DIR_ATTR, remembered)
    window.path_edit.setText(typed.format(data=data))

    window.browse()
    assert dialog.started_in == [starts_in.format(data=data, remembered=remembered)]
    assert getattr(window.window, LAST_DIR_ATTR) == data / "picked"
    assert window.path_edit.text() == str(data / "picked")


@pytest.mark.parametrize("files, typed, listed", [
    ([], "{folder}", "No matching files in {folder}"),
    (["notes.txt", "run.dat"], "{folder}", "No matching files in {folder}"),
    (["notes.txt"], "{folder}/notes.txt", "notes.txt does not match the extensions"),
])
def test_nothing_to_collect_is_said_in_the_files_panel(window, tmp_path, files, typed, listed):
    for name in files:
        (tmp_path / name).write_text("x\n")
    window.path_edit.setText(typed.format(folder=tmp_path))
    window.collect()
    assert [window.file_list.item(i).text() for i in range(window.file_list.count())] == [
        listed.format(folder=tmp_path)]
    assert window.output_label.text() == "Output folder: –"


def pixels(path):
    """An image file as an (h, w, 3) uint8 array."""
    from PySide6.QtGui import QImage

    return pixels_of(QImage(str(path)))


def pixels_of(image):
    """A QImage or QPixmap as an (h, w, 3) uint8 array."""
    from PySide6.QtGui import QImage

    if not isinstance(image, QImage):
        image = image.toImage()
    assert not image.isNull()
    image = image.convertToFormat(QImage.Format.Format_RGB32)
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
    assert "sync median" in proc.stdout and "samples in" in proc.stdout and "points out" in proc.stdout
    assert f"{TICKS} ticks" in proc.stdout
    # Eight channels at 1 kHz, all plotted, less the Z channel's hidden second half.
    line = next(line for line in proc.stdout.splitlines() if line.startswith("streaming: "))
    rate = float(line.split()[1].replace(",", ""))
    assert line.split()[2] == "samples/s" and 7500 <= rate < 7510, line  # and a few dropout markers


def test_lost_samples_are_gaps_without_qt_warnings(demo):
    """NaN samples reach the lines as gaps; Qt warns of every NaN point appended to a series, and
    the demo's output has no such warning (the demo no longer silences it)."""
    proc, _, summary = demo
    streaming = [c for c in summary["charts"].values() if c["tab"] == "Streaming"]
    assert sum(n for c in streaming for n in c["lost_samples"].values()) > 0
    assert sum(s["gaps"] for c in streaming for s in c["series"].values() if s["kind"] == "QLineSeries") > 0
    assert "Ignored NaN" not in proc.stdout + proc.stderr


def test_every_tab_has_its_screenshot(demo):
    _, out, summary = demo
    assert [t["label"] for t in summary["tabs"]] == ["Streaming", "Spectrum", "Qt Graphs"]
    shots = [pixels(out / t["screenshot"]) for t in summary["tabs"]]
    assert shots[0].shape == shots[1].shape == shots[2].shape
    assert shots[0].shape[0] >= 600 and shots[0].shape[1] >= 1000
    # Different tabs show different things.
    for a, b in ((0, 1), (0, 2), (1, 2)):
        assert (np.abs(shots[a].astype(int) - shots[b].astype(int)).sum(axis=2) > 30).mean() > 0.05, (a, b)
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


def test_qt_graphs_tab_shows_the_streaming_data(demo):
    """Each graph of the Qt Graphs tab holds, for every channel the streaming chart shows, the same
    points of the same window, draws them in their colours, and labels its axes readably."""
    _, out, summary = demo
    assert set(summary["graphs"]) == {"g_temperature", "g_pressure", "g_vibration", "g_flow"}
    for host, graph in summary["graphs"].items():
        chart = summary["charts"][graph["mirrors"]]
        assert graph["tab"] == "Qt Graphs" and graph["renderer"] == "Software", host
        assert graph["x_range"] == chart["x_range"], host
        assert graph["series"].keys() == chart["series"].keys(), host
        area = plot_area(graph, pixels(out / graph["screenshot"]))
        y_lo, y_hi = graph["y_range"]
        for name, s in graph["series"].items():
            c = chart["series"][name]
            if c["visible"]:  # a channel hidden in one tab's legend is not hidden in the other's
                # the same window, decimated for the graph's own plot width (two points a column)
                bucket = math.ceil(summary["window_samples"] / max(1, int(graph["plot_area"][2])))
                assert 0 <= c["last_x"] - s["last_x"] < bucket and (s["gaps"] > 0) == (c["gaps"] > 0), (host, name)
                assert s["first_x"] < graph["x_range"][0] + bucket, (host, name)
                if c["kind"] == "QLineSeries" and c["count"] < summary["window_samples"]:
                    assert graph["plot_area"][2] <= s["count"] <= 3 * graph["plot_area"][2] + 6, (host, name)
            assert s["visible"] and s["count"] > 0, (host, name)
            assert colour_pixels(area, s["color"]) >= min(60, 10 * s["points_in_window"]), (host, name)
            if graph["fixed_y_range"] is None:
                assert y_lo <= s["y_min"] and s["y_max"] <= y_hi, (host, name)
        for axis, labels in graph["labels"].items():
            values = [float(text) for text, *_ in labels]
            assert len(values) >= 3, (host, axis, labels)
            steps = {round(b - a, 9) for a, b in zip(values, values[1:])}
            assert len(steps) == 1 and is_round_step(steps.pop()), (host, axis, values)
            for (_, x0, y0, w0, h0), (_, x1, y1, _, _) in zip(labels, labels[1:]):
                assert (x0 + w0 < x1) if axis == "x" else (y1 + h0 < y0), (host, axis, labels)


def test_hidden_series_is_left_out(demo):
    _, _, summary = demo
    hidden = [(host, name) for host, c in summary["charts"].items() for name, s in c["series"].items()
              if not s["visible"]]
    assert hidden == [("w_vibration", "Z")]


def bucket_length(window, plot_width):
    """The decimation's bucket length of an automatic display budget: two points per pixel column."""
    return math.ceil(window / int(plot_width))


def test_streaming_axes_follow_the_data(demo):
    _, _, summary = demo
    window = summary["window_samples"]
    for host, chart in summary["charts"].items():
        if chart["tab"] != "Streaming":
            continue
        visible = [s for s in chart["series"].values() if s["visible"]]
        newest = summary["samples_per_channel"]
        assert chart["x_range"] == [newest - window, newest], host
        assert_y_range_fits(host, chart, visible, slack=4.0)
        # A line holds the window's samples (and the rest of its oldest bucket): min/max pairs of
        # buckets of about one pixel column each.
        length = bucket_length(window, chart["plot_area"][2])
        for name, s in chart["series"].items():
            if s["kind"] != "QLineSeries" or not s["visible"]:
                continue
            assert s["window"] == window and s["display_budget"] == "auto", (host, name)
            buckets = window // length
            assert buckets <= s["count"] <= 3 * (buckets + 2), (host, name, s["count"])
            assert newest - window - length < s["first_x"] <= newest - window + length, (host, name)
            assert newest - length < s["last_x"] <= newest, (host, name)


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
    # Browse opened in the folder typed into the line edit, and the data folder in it was picked.
    assert files["dialog_started_in"] == files["typed"]
    assert Path(files["path"]).parent == Path(files["typed"])
    # Sorted by the date code in their names, files without one last; .txt is not collected.
    assert files["listed"] == ["pump_20250227.csv", "pump_20250228_171000.csv", "pump_20250301_081500.csv",
                               "pump_20250301_120000.bin", "calibration.csv"]
    assert files["output"].startswith("Output folder: ") and files["output"].endswith("results")
    # The folder chosen in the dialog is remembered on the window.
    assert files["last_dir"] == "Last folder: " + files["path"]
    assert files["empty_folder_listed"] == [f"No matching files in {files['typed']}{os.sep}empty"]


# ---- axis labels


def tick_values(axis):
    """The values Qt puts labels at, from the axis's range and tick settings."""
    lo, hi = axis["range"]
    if axis["tick_type"] == "fixed":
        n = axis["tick_count"] - 1
        return [lo + k * (hi - lo) / n for k in range(n + 1)]
    step, anchor = axis["tick_interval"], axis["tick_anchor"]
    first = anchor + math.ceil((lo - anchor) / step - 1e-9) * step
    return [first + k * step for k in range(int((hi - first) / step + 1e-9) + 1)]


def is_round_step(step):
    """1, 2 or 5 times a power of ten."""
    exponent = math.floor(math.log10(step))
    return any(math.isclose(step, m * 10.0 ** exponent, rel_tol=1e-9) for m in (1, 2, 5, 10))


def label_metrics(axis, values):
    """The labels' widest width and line height in pixels, measured with the axis's own font."""
    from PySide6.QtGui import QFont, QFontMetricsF

    font = QFont()
    assert font.fromString(axis["labels_font"])
    metrics = QFontMetricsF(font)
    fmt = axis["label_format"]
    texts = [fmt % (round(v) if fmt.endswith("d") else v) for v in values]
    return max(metrics.horizontalAdvance(t) for t in texts), metrics.height(), texts


def every_chart(summary):
    yield from summary["charts"].items()
    for host, chart in summary["charts_before_hiding"].items():
        yield f"{host} (before hiding)", chart


def test_axis_labels_are_round_and_readable(demo):
    """Every axis has at least three labels on multiples of 1, 2 or 5 times a power of ten, spaced so
    that each one's share of the axis holds it and Qt's padding (Qt draws a label that does not fit
    as an ellipsis)."""
    _, _, summary = demo
    for host, chart in every_chart(summary):
        _, _, width, height = chart["plot_area"]
        for name, axis in chart["axes"].items():
            values = tick_values(axis)
            where = (host, name, values)
            assert len(values) >= 3, where
            step = values[1] - values[0]
            assert is_round_step(step), where
            assert all(math.isclose(v / step, round(v / step), abs_tol=1e-6) for v in values), where
            widest, line, texts = label_metrics(axis, values)
            assert len(set(texts)) == len(texts), (where, texts)
            assert not any(t.startswith("-") and float(t) == 0 for t in texts), (where, texts)
            lo, hi = axis["range"]
            spacing = step / (hi - lo) * (width if name == "x" else height)
            needed = widest + 8 if name == "x" else 1.2 * line
            assert spacing >= needed, (where, spacing, needed)


def test_streaming_labels_are_as_dense_as_fit(demo):
    """The streaming axes take the finest round step whose labels fit: the next finer one would not."""
    _, _, summary = demo
    for host, chart in every_chart(summary):
        if chart["tab"] != "Streaming":
            continue
        _, _, width, height = chart["plot_area"]
        for name, axis in chart["axes"].items():
            assert axis["tick_type"] == "dynamic", (host, name)
            step = axis["tick_interval"]
            finer = step / (2.5 if str(step).lstrip("0.").startswith("5") else 2)
            lo, hi = axis["range"]
            finer_count = math.floor(hi / finer) - math.ceil(lo / finer) + 1
            widest, line, _ = label_metrics(axis, tick_values(axis))
            size = (widest if name == "x" else line) + 3 + 8
            assert finer_count * size > (width if name == "x" else height) - 2 * size, (host, name, step)


# ---- the streaming charts, ticked in this process


class RecordingSensor:
    """A demo sensor whose samples are kept, with the samples numbered in `lost` forced to NaN."""

    def __init__(self, sensor, lost=range(0)):
        self.sensor, self.lost, self.blocks = sensor, lost, []

    def read(self, start, count):
        values = self.sensor.read(start, count)
        n = np.arange(start + 1, start + count + 1)
        values[(n >= self.lost.start) & (n < self.lost.stop)] = np.nan
        self.blocks.append(values.copy())
        return values

    def samples(self):
        return np.concatenate(self.blocks)  # sample n at index n - 1


FORCED_DROPOUT = range(4601, 4721)  # 120 lost samples, 12 pixels or so
STREAM_TICKS = 125                  # the window shows samples 1001 to 5000


@pytest.fixture(scope="module", params=[None, 1000], ids=["every-point", "budget-1000"])
def streamed(request, qapp):
    """A demo window ticked here, its sensors recorded, a dropout forced on every channel; the Qt
    messages printed meanwhile."""
    from PySide6.QtCore import qInstallMessageHandler

    from larkui.demo.app import DemoWindow

    demo = DemoWindow(7, request.param)
    for chart in demo.streaming:
        for ch in chart.channels:
            ch.sensor = RecordingSensor(ch.sensor, FORCED_DROPOUT)
    messages = []
    previous = qInstallMessageHandler(lambda _mode, _context, text: messages.append(text))
    try:
        demo.window.show()
        for _ in range(STREAM_TICKS):
            demo.tick()
            qapp.processEvents()
    finally:
        qInstallMessageHandler(previous)
    yield demo, messages
    demo.window.close()
    demo.window.deleteLater()


def points_of(series):
    pts = series.points()
    return np.array([p.x() for p in pts]), np.array([p.y() for p in pts])


def expected_points(samples, newest, window, length):
    """The sample numbers a min/max decimation writes: buckets of `length` samples at multiples of
    `length` of the sample's index (sample n has index n - 1), from the bucket of the window's oldest
    sample on, each giving its least and greatest finite sample and its first lost one."""
    first = (newest - window) // length * length
    picked = []
    for start in range(first, newest, length):
        part = samples[start:min(start + length, newest)]
        finite = np.flatnonzero(np.isfinite(part))
        chosen = {int(np.flatnonzero(~np.isfinite(part))[0])} if len(finite) < len(part) else set()
        if len(finite):
            chosen |= {int(finite[np.argmin(part[finite])]), int(finite[np.argmax(part[finite])])}
        picked += [start + 1 + k for k in sorted(chosen)]
    return np.array(picked, dtype=float)


def test_streaming_lines_plot_every_sample_of_the_window(streamed):
    from larkui.demo.app import WINDOW_SAMPLES

    demo, _ = streamed
    newest = demo.sample
    window_x = np.arange(newest - WINDOW_SAMPLES + 1, newest + 1, dtype=float)
    for chart in demo.streaming:
        for ch, buffer in zip(chart.channels, chart.buffers):
            y = ch.sensor.samples()[-WINDOW_SAMPLES:]
            xs, ys = points_of(buffer.series)
            where = (chart.host, ch.name)
            if demo.display_budget is None:
                assert np.array_equal(xs, window_x), where
                assert np.array_equal(ys, y, equal_nan=True), where
                continue
            length = math.ceil(WINDOW_SAMPLES / (demo.display_budget // 2))
            samples = ch.sensor.samples()
            # The points are the samples each bucket stands for, in order, with their own values.
            assert np.array_equal(xs, expected_points(samples, newest, WINDOW_SAMPLES, length)), where
            assert np.array_equal(ys, samples[xs.astype(int) - 1], equal_nan=True), where
            # The line reaches every extreme of the samples it stands for.
            assert np.nanmin(ys) == np.nanmin(y) and np.nanmax(ys) == np.nanmax(y), where


def test_a_dropout_is_a_gap_with_a_marker(streamed):
    """The lost samples are a break in the line (a NaN point, no point drawn inside it), with a
    marker at the start of each dropout at the value it interrupted."""
    from PySide6.QtCore import QPointF

    demo, messages = streamed
    for chart in demo.streaming:
        for ch, buffer in zip(chart.channels, chart.buffers):
            xs, ys = points_of(buffer.series)
            inside = (xs >= FORCED_DROPOUT.start) & (xs < FORCED_DROPOUT.stop)
            assert np.isnan(ys[inside]).any() and not np.isfinite(ys[inside]).any(), (chart.host, ch.name)
    assert not [m for m in messages if "NaN" in m], messages

    pressure = demo.streaming[1]
    (i, markers), = pressure.dropout_buffers.items()
    samples = pressure.channels[i].sensor.samples()
    lost = np.isnan(samples)
    starts = np.flatnonzero(lost[1:] & ~lost[:-1]) + 1  # index n - 1 of sample n; a good one before
    assert FORCED_DROPOUT.start - 1 in starts and len(starts) >= 2  # the forced one and one of the sensor's
    xs, ys = points_of(markers.series)
    assert np.array_equal(xs, starts + 1.0) and np.array_equal(ys, samples[starts - 1])

    # On the screen: the line's colour is missing across the gap, and present beside it.
    line = pressure.buffers[i].series
    image = pixels_of(pressure.view.grab())
    top, bottom = (int(pressure.view.mapFromScene(pressure.chart.mapToScene(p)).y())
                   for p in (pressure.chart.plotArea().topLeft(), pressure.chart.plotArea().bottomLeft()))

    def column(x):
        scene = pressure.chart.mapToScene(pressure.chart.mapToPosition(QPointF(x, 100.0), line))
        return pressure.view.mapFromScene(scene).x()

    left, right = column(FORCED_DROPOUT.start), column(FORCED_DROPOUT.stop - 1)
    assert right - left >= 8, (left, right)
    colour = line.color().name()
    assert colour_pixels(image[top:bottom, left + 5:right - 1], colour) == 0  # the marker covers the first few
    assert colour_pixels(image[top:bottom, left - 12:left - 2], colour) > 10
    assert colour_pixels(image[top:bottom, right + 2:right + 12], colour) > 10


# ---- stopping the streaming charts to look at them


def streaming_state(demo):
    """Per streaming chart: its lines' points and its axes' ranges."""
    return [([points_of(b.series) for b in chart.buffers], (chart.axX.min(), chart.axX.max()),
             (chart.axY.min(), chart.axY.max())) for chart in demo.streaming]


def same_state(a, b):
    return all(ra == rb and ya == yb and all(np.array_equal(p[0], q[0]) and np.array_equal(p[1], q[1], equal_nan=True)
                                             for p, q in zip(pa, pb))
               for (pa, ra, ya), (pb, rb, yb) in zip(a, b))


@pytest.mark.parametrize("how", ["button", "space"])
def test_pause_all_pauses_and_resumes_the_four_charts(qapp, how):
    """The button beside the charts pauses all four (they are linked, so Space on one does too) and its
    text follows the state; paused charts keep their lines and axes while the buffers go on filling;
    resumed, every chart shows the newest window at once."""
    from PySide6.QtCore import Qt
    from PySide6.QtTest import QTest

    from larkui.demo.app import LIVE_HINT, PAUSED_HINT, WINDOW_SAMPLES, DemoWindow

    demo = DemoWindow(7)
    try:
        demo.window.show()

        def run(ticks):
            for _ in range(ticks):
                demo.tick()
                qapp.processEvents()

        def press():
            if how == "button":
                QTest.mouseClick(demo.pause_button, Qt.MouseButton.LeftButton)
            else:
                QTest.keyClick(demo.streaming[2].view, Qt.Key.Key_Space)
            qapp.processEvents()

        run(110)
        assert demo.pause_button.text() == "Pause all" and demo.inspect_hint.text() == LIVE_HINT
        assert len({lv for lv in demo.live_views[0].linked}) == 4
        press()
        assert [lv.is_paused for lv in demo.live_views] == [True] * 4
        assert demo.pause_button.text() == "Resume all" and demo.inspect_hint.text() == PAUSED_HINT
        before = streaming_state(demo)
        held = [len(b.history) for c in demo.streaming for b in c.buffers[:len(c.channels)]]
        run(30)
        assert same_state(streaming_state(demo), before)
        grown = [len(b.history) for c in demo.streaming for b in c.buffers[:len(c.channels)]]
        assert all(g == h + 30 * 40 for g, h in zip(grown, held)), (held, grown)
        press()
        assert [lv.is_paused for lv in demo.live_views] == [False] * 4
        assert demo.pause_button.text() == "Pause all" and demo.inspect_hint.text() == LIVE_HINT
        for chart in demo.streaming:
            assert (chart.axX.min(), chart.axX.max()) == (demo.sample - WINDOW_SAMPLES, demo.sample), chart.host
            assert points_of(chart.buffers[0].series)[0][-1] == demo.sample, chart.host
    finally:
        demo.window.close()
        demo.window.deleteLater()


def test_the_offscreen_run_inspects_a_dropout(demo):
    """After its screenshots the offscreen run pauses the charts with the button, zooms into the
    pressure chart's latest dropout and points at it: inspect.png shows the readout, and it says
    "gap" for the lost samples; then the charts go live again."""
    _, out, summary = demo
    found = summary["inspect"]
    assert found["paused"] == [True] * 4 and found["button_paused"] == "Resume all"
    start, stop = found["dropout"]
    assert found["x_ranges"] == [[start - 300.0, stop + 300.0]] * 4  # linked: one range for all four
    assert start <= found["hover_x"] < stop
    x, samples = found["readout"]
    assert x == pytest.approx(found["hover_x"], abs=2)
    line = [s for s in samples if s[0] == "Line"]
    assert len(line) == 1 and start <= line[0][1] < stop and line[0][2] is None  # a lost sample: a gap
    assert found["readouts_shown"] == 4
    assert found["resumed"] == [True] * 4 and found["button_live"] == "Pause all"
    assert found["x_range_live"] == [summary["samples_per_channel"] - summary["window_samples"],
                                     summary["samples_per_channel"]]
    shot, live = pixels(out / found["screenshot"]), pixels(out / "streaming.png")
    assert (pixels(out / "inspect-copy.png") == shot).all()
    assert shot.shape == live.shape and (np.abs(shot.astype(int) - live.astype(int)).sum(axis=2) > 30).mean() > 0.05
    # What the run recorded of the pressure chart is its paused view.
    assert found["pressure"]["x_range"] == [start - 300.0, stop + 300.0]
