# The archive: a log of 30000 samples x 12 channels into a fresh SQLite
# archive, the same log downloaded again, one channel-year out of an archive
# of 10^7 samples and that archive's size, and the first figure on a local
# PostgreSQL server the program starts itself.
bench_figures bench_archive "archive_import_ms archive_reimport_ms archive_series_ms
  archive_bytes_per_sample archive_pg_import_ms" "$BENCH_DIR/bench/archive/bench_archive"
