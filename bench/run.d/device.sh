# A Download All of a 220-block log from the virtual reader: the share of the
# line rate reached with the reader paced at 9600 baud, and the blocks per
# second with the reader unpaced; then the extra time one reply with a bad
# checksum costs a paced download (median of five).
bench_build bench_download
"$BENCH_DIR/bench/device/bench_download"
