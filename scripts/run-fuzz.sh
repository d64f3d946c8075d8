#!/usr/bin/env bash
# Runs every libFuzzer target of the fuzz preset (build/fuzz/bin/*_fuzz) for
# FUZZ_SECONDS each. The saved corpus fuzz/corpus/<name>/ seeds a run and is
# never written; new inputs go to build/fuzz/corpus/<name>/ and crashing,
# leaking or hanging inputs to build/fuzz/findings/<name>/. Exits 1 when any
# target found something.
set -uo pipefail

seconds=${FUZZ_SECONDS:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/fuzz

shopt -s nullglob
targets=("$build"/bin/*_fuzz)
if [ ${#targets[@]} -eq 0 ]; then
  echo "run-fuzz: no fuzz targets in $build/bin (fuzz/*_fuzz.cpp)"
  exit 0
fi

total_findings=0
for target in "${targets[@]}"; do
  name=$(basename "$target")
  scratch=$build/corpus/$name
  findings=$build/findings/$name
  log=$build/logs/$name.log
  mkdir -p "$scratch" "$findings" "$build/logs"
  seeds=()
  [ -d "$root/fuzz/corpus/$name" ] && seeds=("$root/fuzz/corpus/$name")
  marker=$build/logs/$name.start
  touch "$marker"

  echo "== $name: ${seconds}s"
  "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$findings/" \
    "$scratch" "${seeds[@]}" >"$log" 2>&1
  rc=$?

  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  inputs=$(find "$scratch" -type f | wc -l)
  found=$(find "$findings" -type f -newer "$marker" | wc -l)
  if [ "$rc" -ne 0 ] && [ "$found" -eq 0 ]; then
    found=1  # it stopped without leaving an input: still a finding
  fi
  echo "   ${execs:-?} executions, $found findings; scratch corpus $scratch holds $inputs inputs"
  if [ "$found" -gt 0 ]; then
    total_findings=$((total_findings + found))
    echo "   exit $rc; the report (full log: $log):"
    grep -m1 -A25 -E '^==[0-9]+==ERROR|runtime error|deadly signal|ALARM|out-of-memory' \
      "$log" | sed 's/^/   | /'
    find "$findings" -type f -newer "$marker" | head -5 | sed 's/^/   input: /'
  fi
done

echo "fuzz: ${#targets[@]} targets, $total_findings findings"
[ "$total_findings" -eq 0 ]
