#!/usr/bin/env bash
# Runs a gateway fuzzer for FUZZ_SECONDS (default 60) from the shared call
# vectors of its module; fails on any finding, which it leaves in WORKDIR.
#
#   run_fuzzer.sh FUZZER MAKE_VECTORS MODULE WORKDIR
set -uo pipefail
fuzzer=$1 make_vectors=$2 module=$3 work=$4
rm -rf "$work" && mkdir -p "$work/corpus"
"$make_vectors" --fuzz-seeds "$work/seeds" "$module" || exit 1
"$fuzzer" -max_total_time="${FUZZ_SECONDS:-60}" -rss_limit_mb=2048 -print_final_stats=1 \
  -artifact_prefix="$work/" "$work/corpus" "$work/seeds" 2>"$work/fuzz.log"
status=$?
grep -E '^stat::number_of_executed_units|^Done|ERROR|SUMMARY' "$work/fuzz.log"
exit $status
