# A Download All of a 220-block log from the virtual reader: the share of the
# line rate reached with the reader paced at 9600 baud, and the blocks per
# second with the reader unpaced; then the extra time one reply with a bad
# checksum, or one reply late, costs a paced download (median of five); and
# the share of the line rate with a reader slow to answer.
bench_figures bench_download "fault_recovery_ms late_reply_recovery_ms slow_reader_line_rate_ratio
  download_line_rate_ratio download_fast_blocks_per_s" "$BENCH_DIR/bench/device/bench_download"
