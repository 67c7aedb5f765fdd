#!/usr/bin/env bash
# A short fuzzing run over the seed corpus: builds the target, rebuilds the seeds and fuzzes
# for the given number of seconds (default 60). Fails on the first crash, leak or hang.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
fuzz/build.sh
python3 fuzz/make_corpus.py fuzz/corpus
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p fuzz/findings
fuzz/out/parser_fuzzer -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 \
  -max_len=65536 -dict=fuzz/yaml.dict -artifact_prefix=fuzz/findings/ -print_final_stats=1 \
  "$work" fuzz/corpus 2>&1 | grep -v -E '^#[0-9]+\s+(NEW|REDUCE|pulse)' | tail -20
exit "${PIPESTATUS[0]}"
