# The archive: a log of 30000 samples x 12 channels into a fresh SQLite
# archive, the same log downloaded again, one channel-year and one well-year
# out of an archive of 10^7 samples, that archive's size and its migration
# from version 1, and the first figure on a local
# PostgreSQL server the program starts itself.
bench_figures bench_archive "archive_import_ms archive_reimport_ms archive_series_ms
  well_series_ms archive_bytes_per_sample archive_migrate_s archive_pg_import_ms" "$BENCH_DIR/bench/archive/bench_archive"
