#!/usr/bin/env bash
# Builds the fuzz targets (build-sanitize/) and runs each for SECONDS (default 10), two at a
# time, starting from its seed corpus in fuzz/corpus/<target>/ and its dictionary in
# fuzz/dict/<target>.dict. Inputs found to add coverage collect in
# build-sanitize/fuzz-corpus/<target>/, so a later run goes on from there. A crash, a broken
# property, a leak or a hang fails the run and leaves its reproducer in
# build-sanitize/fuzz-crashes/<target>/; reproduce it with
#     build-sanitize/fuzz/<target> <reproducer>
# Usage: scripts/fuzz.sh [SECONDS] [TARGET...]   (no targets: all of them)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build-sanitize"
seconds="${1:-10}"
shift $(($# > 0 ? 1 : 0))
case "$seconds" in
  ''|*[!0-9]*) echo "usage: scripts/fuzz.sh [SECONDS] [TARGET...]" >&2; exit 2 ;;
esac

bash "$root/scripts/sanitize-build.sh" fuzzers
if [ $# -gt 0 ]; then
  targets=("$@")
else
  mapfile -t targets < "$build/fuzzers.txt"
fi

export ASAN_OPTIONS="detect_leaks=1:allocator_may_return_null=1"
export LSAN_OPTIONS="suppressions=$root/scripts/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1"
export QT_QPA_PLATFORM=offscreen

# run_target NAME: one bounded run; its summary line goes to fuzz-logs/NAME.summary.
run_target() {
  local name="$1"
  local corpus="$build/fuzz-corpus/$name" crashes="$build/fuzz-crashes/$name"
  local log="$build/fuzz-logs/$name.log" summary="$build/fuzz-logs/$name.summary"
  mkdir -p "$corpus" "$crashes" "$build/fuzz-logs"
  local options=(-max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048
                 -print_final_stats=1 -artifact_prefix="$crashes/")
  [ -f "$root/fuzz/dict/$name.dict" ] && options+=(-dict="$root/fuzz/dict/$name.dict")
  local status=0
  (cd "$crashes" && "$build/fuzz/$name" "${options[@]}" "$corpus" "$root/fuzz/corpus/$name") \
    > "$log" 2>&1 || status=$?
  local runs
  runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)"
  if [ "$status" -eq 0 ]; then
    echo "$name: ${runs:-0} runs in ${seconds} s, no faults" > "$summary"
  else
    local artifact
    artifact="$(sed -n 's/.*Test unit written to \(.*\)$/\1/p' "$log" | tail -1)"
    {
      echo "$name: FAILED after ${runs:-?} runs (exit $status); reproducer: ${artifact:-none written}"
      echo "  log: $log"
      grep -m 3 -E 'ERROR: |fuzz property violated|runtime error' "$log" | sed 's/^/  /'
    } > "$summary"
  fi
  return "$status"
}
export -f run_target
export root build seconds

echo "Fuzzing ${#targets[@]} targets for ${seconds} s each"
status=0
printf '%s\n' "${targets[@]}" | xargs -P 2 -I{} bash -c 'run_target "$1"' _ {} || status=1
for name in "${targets[@]}"; do
  cat "$build/fuzz-logs/$name.summary" 2>/dev/null || { echo "$name: did not run"; status=1; }
done
exit $status
