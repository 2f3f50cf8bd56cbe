# The data file writer: a 30000-sample, 10-channel log written as ".omb".
bench_build bench_datafile
report=$(bench_json bench/datafile/bench_datafile --benchmark_filter=BM_WriteOmb)
echo "omb_write_mb_per_s $(json_number "$report" omb_write_mb_per_s) MB/s"
echo "omb_write_30000x10_ms $(json_number "$report" real_time) ms"
# Reading that file back into a log.
report=$(bench_json bench/datafile/bench_datafile --benchmark_filter=BM_ReadOmb)
echo "omb_read_mb_per_s $(json_number "$report" omb_read_mb_per_s) MB/s"
echo "omb_read_30000x10_ms $(json_number "$report" real_time) ms"
