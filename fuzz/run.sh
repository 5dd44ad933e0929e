#!/usr/bin/env bash
# Runs the conversion fuzzer for a bounded time: fuzz/run.sh [SECONDS]
# Needs the fuzz preset built. Seeds are the few committed ones plus the small
# files of the generated corpus; new inputs collect in build/fuzz/corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
build=build/fuzz
fuzzer=$build/fuzz/brevlo_fuzz_convert
[[ -x $fuzzer ]] || { echo "build the fuzz preset first" >&2; exit 1; }

rm -rf "$build/seeds"
mkdir -p "$build/seeds" "$build/corpus" "$build/crashes"
/usr/bin/python3 tests/corpus/make_corpus.py "$build/generated" >/dev/null
find "$build/generated" -name '*.gif' -size -12k -exec cp {} "$build/seeds/" \;
cp fuzz/seeds/* "$build/seeds/"

# -jobs would share the two cores with whatever else runs; one process is enough.
"$fuzzer" "$build/corpus" "$build/seeds" \
  -dict=fuzz/gif.dict -max_len=16384 -max_total_time="$seconds" -timeout=10 \
  -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$build/crashes/" 2>&1 |
  grep -E '^#[0-9]+[[:space:]]+(INITED|DONE)|^ +#[0-9]+ 0x|ERROR|SUMMARY|invariant|runtime error|stat::|artifact'
