"""The larkui demo: a measurement-display window built with larkui (``python -m larkui.demo``)."""
