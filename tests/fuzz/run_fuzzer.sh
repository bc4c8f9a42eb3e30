#!/usr/bin/env bash
# Runs the gateway fuzzer for FUZZ_SECONDS (default 60) from the shared call
# vectors; fails on any finding, which it leaves in WORKDIR.
#
#   run_fuzzer.sh FUZZER MAKE_VECTORS WORKDIR
set -uo pipefail
fuzzer=$1 make_vectors=$2 work=$3
rm -rf "$work" && mkdir -p "$work/corpus"
"$make_vectors" --fuzz-seeds "$work/seeds" || exit 1
"$fuzzer" -max_total_time="${FUZZ_SECONDS:-60}" -rss_limit_mb=2048 -print_final_stats=1 \
  -artifact_prefix="$work/" "$work/corpus" "$work/seeds" 2>"$work/fuzz.log"
status=$?
grep -E '^stat::number_of_executed_units|^Done|ERROR|SUMMARY' "$work/fuzz.log"
exit $status
