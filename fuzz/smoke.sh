#!/usr/bin/env bash
# Short fuzzing runs over the seed corpora: builds the C++ targets and the instrumented modules,
# rebuilds the seeds and fuzzes each target (the parser, the writer's text rules, and the Python
# harness of dump and load_with_lines) for the given number of seconds (default 60). Fails on the
# first crash, leak or hang. The Python harness needs atheris (pip install atheris).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
fuzz/build.sh
fuzz/build_python.sh
python3 fuzz/make_corpus.py fuzz/corpus fuzz/corpus-writer
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p fuzz/findings "$work/parser" "$work/writer" "$work/python"
# Keeps libFuzzer's final lines, not its progress.
quiet() { grep -v -E '^#[0-9]+\s+(NEW|REDUCE|pulse)|^INFO: Instrumenting' | tail -12; }
options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 -artifact_prefix=fuzz/findings/
         -print_final_stats=1)
status=0
echo "== parser_fuzzer"
fuzz/out/parser_fuzzer "${options[@]}" -max_len=65536 -dict=fuzz/yaml.dict "$work/parser" fuzz/corpus 2>&1 | quiet
status=$((status | PIPESTATUS[0]))
echo "== writer_fuzzer"
fuzz/out/writer_fuzzer "${options[@]}" -max_len=4096 -dict=fuzz/yaml.dict "$work/writer" fuzz/corpus-writer 2>&1 | quiet
status=$((status | PIPESTATUS[0]))
echo "== writer_fuzzer.py (dump and load_with_lines)"
atheris=$(python3 -c "import atheris; print(atheris.path())")
PYTHONPATH=fuzz/out/python ASAN_OPTIONS=detect_leaks=0 LD_PRELOAD="$atheris/asan_with_fuzzer.so" \
  python3 fuzz/writer_fuzzer.py "${options[@]}" -max_len=4096 -dict=fuzz/yaml.dict "$work/python" fuzz/corpus 2>&1 | quiet
status=$((status | PIPESTATUS[0]))
exit "$status"
