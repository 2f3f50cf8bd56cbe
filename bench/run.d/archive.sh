# The archive: a log of 30000 samples x 12 channels into a fresh SQLite
# archive, the same log downloaded again, one channel-year out of an archive
# of 10^7 samples and that archive's size, and the first figure on a local
# PostgreSQL server the program starts itself.
bench_build bench_archive
"$BENCH_DIR/bench/archive/bench_archive"
