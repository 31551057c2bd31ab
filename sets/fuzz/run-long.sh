#!/usr/bin/env bash
# The long fuzzing run of the set file reader, by hand (not in CI): two jobs,
# one per core, of RUNS executions each (5 million by default, 10 million in
# all), then one pass over the corpus they grew to report its coverage.
# Prints the executions, the coverage and whether anything was found.
# Usage: sets/fuzz/run-long.sh [build-dir]   (RUNS=... to change the count)
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
out="${1:-$root/build-fuzz}"
runs="${RUNS:-5000000}"
mkdir -p "$out/corpus" "$out/logs"
# Builds the target and checks the seeds once.
"$root/sets/fuzz/build-and-run.sh" "$out" -runs=0 >"$out/logs/seeds.log" 2>&1
cd "$out/logs"
rm -f fuzz-*.log
status=0
"$out/set_file_fuzz" -jobs=2 -workers=2 -runs="$runs" -print_final_stats=1 \
  -artifact_prefix="$out/" "$out/corpus" "$root/sets/fuzz/corpus" >/dev/null 2>&1 || status=$?
total=0
for log in fuzz-*.log; do
  n=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  total=$((total + ${n:-0}))
  echo "$log: ${n:-?} executions; $(grep -E '^#[0-9]+.*DONE' "$log" | tail -1)"
done
echo "set_file_fuzz_executions: $total"
cov=$("$out/set_file_fuzz" -runs=0 "$out/corpus" 2>&1 | grep -E 'INITED|DONE' | tail -1)
echo "set_file_fuzz_corpus: $(ls "$out/corpus" | wc -l) inputs; $cov"
found=$(find "$out" -maxdepth 1 \( -name "crash-*" -o -name "leak-*" -o -name "timeout-*" -o -name "oom-*" \) | wc -l)
echo "set_file_fuzz_findings: $found"
[[ $status -eq 0 && $found -eq 0 ]]
