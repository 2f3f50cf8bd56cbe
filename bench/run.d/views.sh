# The window programs, offscreen, without the platform's notes on standard
# error; built only with the window program.
offscreen() {
  QT_QPA_PLATFORM=offscreen "$@" 2>/dev/null
}
# The data window: a 30000-sample, 10-channel log shown and scrolled to its
# last row, and a grid of one item per cell filled the same way; the Graph of
# a 30000-sample, 12-channel log opened, and one zoom or pan step redrawn.
if cmake --build "$BENCH_DIR" --target help 2>/dev/null | grep -q '^bench_datawindow:'; then
  bench_figures bench_datawindow "datawindow_show_ms datawindow_scroll_ms datawindow_naive_ms
    graph_open_ms graph_frame_ms" offscreen "$BENCH_DIR/bench/views/bench_datawindow"
fi
# The Archive window over 500 loggers and 10^7 samples (the archive made once
# under build/bench), a Graph of four series of ten years at 15 minutes, and
# the level Graph of a well of ten years.
if cmake --build "$BENCH_DIR" --target help 2>/dev/null | grep -q '^bench_archivewindow:'; then
  bench_figures bench_archivewindow "archive_window_open_ms history_graph_open_ms
    history_graph_frame_ms level_graph_open_ms" offscreen "$BENCH_DIR/bench/views/bench_archivewindow"
fi
