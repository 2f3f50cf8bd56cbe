# The serial link: reply latency to the client thread, and the processor time
# of an idle connected link.
bench_figures bench_serial "reply_latency_ms_p50 idle_link_cpu_percent" \
  "$BENCH_DIR/bench/serial/bench_serial"
