# The data window: a 30000-sample, 10-channel log shown and scrolled to its
# last row, and a grid of one item per cell filled the same way; the Graph of
# a 30000-sample, 12-channel log opened, and one zoom or pan step redrawn.
if cmake --build "$BENCH_DIR" --target help 2>/dev/null | grep -q '^bench_datawindow:'; then
  bench_build bench_datawindow
  QT_QPA_PLATFORM=offscreen "$BENCH_DIR/bench/views/bench_datawindow" 2>/dev/null
fi
# The Archive window over 500 loggers and 10^7 samples (the archive made once
# under build/bench), and a Graph of four series of ten years at 15 minutes.
if cmake --build "$BENCH_DIR" --target help 2>/dev/null | grep -q '^bench_archivewindow:'; then
  bench_build bench_archivewindow
  QT_QPA_PLATFORM=offscreen "$BENCH_DIR/bench/views/bench_archivewindow" 2>/dev/null
fi
