# The levels: ten years of a well at 15 minutes (two deployments), a baro at
# an hour and 40 dips.
bench_figures bench_level "levels_compute_ms" "$BENCH_DIR/bench/level/bench_level"
# A well's levels as well level reads them out of SQLite and writes them,
# and that time against well series of the same span.
bench_figures bench_well_level "level_ms level_vs_series_ratio" "$BENCH_DIR/bench/archive/bench_well_level"
