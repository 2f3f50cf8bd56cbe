# The data file writer: a 30000-sample, 10-channel log written as ".omb", and
# reading that file back into a log.
datafile_figures() {
  local report
  report=$(bench_json bench/datafile/bench_datafile --benchmark_filter=BM_WriteOmb)
  json_figure omb_write_mb_per_s "$report" omb_write_mb_per_s MB/s
  json_figure omb_write_30000x10_ms "$report" real_time ms
  report=$(bench_json bench/datafile/bench_datafile --benchmark_filter=BM_ReadOmb)
  json_figure omb_read_mb_per_s "$report" omb_read_mb_per_s MB/s
  json_figure omb_read_30000x10_ms "$report" real_time ms
}
bench_figures bench_datafile \
  "omb_write_mb_per_s omb_write_30000x10_ms omb_read_mb_per_s omb_read_30000x10_ms" \
  datafile_figures
