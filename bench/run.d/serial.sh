# The serial link: reply latency to the client thread, and the processor time
# of an idle connected link.
bench_build bench_serial
"$BENCH_DIR/bench/serial/bench_serial"
