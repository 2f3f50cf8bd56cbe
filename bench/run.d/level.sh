# The levels: ten years of a well at 15 minutes (two deployments), a baro at
# an hour and 40 dips.
bench_figures bench_level "levels_compute_ms" "$BENCH_DIR/bench/level/bench_level"
