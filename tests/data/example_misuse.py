"""Calls the stubs must refuse; each line marked `# refused` must be a mypy error, and no other."""
from PySide6.QtCharts import QLineSeries, QValueAxis
from PySide6.QtWidgets import QLineEdit, QWidget

from larkui.choosers import collect_files_from_lineEdit, pick_folder_path
from larkui.finders import find_child_safe
from larkui.graphs import add_line_to_graph, add_scatter_to_graph, build_sample_value_graph
from larkui.plotdeck import TimeSeriesBuffer, build_sample_value_chart, sync_scrolling_chart, sync_snapshot_chart
from larkui.streaming import StreamBuffer, sync_stream_chart

root = QWidget()
edit: QWidget = find_child_safe(root, QLineEdit, "pathEdit")
not_a_widget = find_child_safe(root, int, "pathEdit")  # refused
find_child_safe(root, QLineEdit, None)  # refused
build_sample_value_chart(root, "host", "Value")  # refused
chart, ax_x, ax_y = build_sample_value_chart(root, "host", return_view=True)  # refused
sync_scrolling_chart((), QValueAxis(), QValueAxis(), 100)  # refused
sync_scrolling_chart([], QValueAxis(), QValueAxis(), 100, fixed_y_range=[0, 1])  # refused
pick_folder_path(root, None)  # refused
collect_files_from_lineEdit(root, QLineEdit(), "out", (".csv",))  # refused
TimeSeriesBuffer(QValueAxis())  # refused
TimeSeriesBuffer(QLineSeries()).is_visible = False  # refused
text: str = pick_folder_path(root)  # refused
stream = StreamBuffer(QLineSeries(), 1000, display_budget=500)
StreamBuffer(QLineSeries())  # refused
StreamBuffer(QLineSeries(), 1000, 500)  # refused
StreamBuffer(QValueAxis(), 1000)  # refused
StreamBuffer(QLineSeries(), 1000, display_budget="all")  # refused
stream.window = 500  # refused
stream.last_x = 0.0  # refused
stream.history.append(1.0)  # refused
values: list[float] = stream.history  # refused
sync_scrolling_chart([stream], QValueAxis(), QValueAxis(), 100)
sync_snapshot_chart([stream], QValueAxis(), QValueAxis())  # refused
sync_stream_chart([stream], QValueAxis(), QValueAxis(), 100.0)
sync_stream_chart([stream], QValueAxis(), QValueAxis(), 100, (0.0, 1.0))  # refused
sync_stream_chart([TimeSeriesBuffer(QLineSeries())], QValueAxis(), QValueAxis(), 100)  # refused
sync_stream_chart([stream], QValueAxis(), QValueAxis(), "100")  # refused
graph, gx, gy = build_sample_value_graph(root, "host")
build_sample_value_graph(root, "host", "Value")  # refused
graph2, gx2, gy2 = build_sample_value_graph(root, "host", return_widget=True)  # refused
add_line_to_graph(graph, gx, gy, None, "red")  # refused
add_line_to_graph(graph, gx, gy, "a", "red", width="wide")  # refused
add_scatter_to_graph(graph, gx, gy, "a", 1.5)  # refused
