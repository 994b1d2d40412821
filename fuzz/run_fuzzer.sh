#!/usr/bin/env bash
# run_fuzzer.sh BINARY CORPUS WORKDIR SECONDS
# Runs a libFuzzer binary for SECONDS on a scratch copy of the stored corpus,
# so the stored corpus is never rewritten by a test run.
set -euo pipefail
bin=$1 corpus=$2 work=$3 seconds=$4
rm -rf "$work" && mkdir -p "$work/corpus" "$work/artifacts"
cp -r "$corpus"/. "$work/corpus/" 2>/dev/null || true
"$bin" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
  -artifact_prefix="$work/artifacts/" "$work/corpus" "$corpus"
