#!/usr/bin/env bash
# run-fuzzers.sh BUILD_DIR SECONDS [TARGET...]
# Runs each fuzz target of a fuzz build (BUILD_DIR/fuzz/<name>_fuzzer) for
# SECONDS on a working corpus seeded from fuzz/corpus/<name>, with the
# target's dictionary when it has one, and prints a table of executions per
# second, coverage and corpus size. Crash, hang and out-of-memory inputs are
# kept in BUILD_DIR/fuzz-findings/<name>/; the exit status is 1 when any
# target found something.
set -uo pipefail
FUZZ_SRC=$(cd "$(dirname "$0")" && pwd)
BUILD=$(cd "$1" && pwd)
SECONDS_EACH=$2
shift 2

targets=("$@")
if ((${#targets[@]} == 0)); then
  for bin in "$BUILD"/fuzz/*_fuzzer; do
    [ -x "$bin" ] && targets+=("$(basename "$bin" _fuzzer)")
  done
fi
if ((${#targets[@]} == 0)); then
  echo "no fuzz targets in $BUILD/fuzz" >&2
  exit 2
fi
if [ -e /tmp/varolog ]; then
  echo "note: /tmp/varolog exists, so the libraries write their traces there while fuzzing" >&2
fi

# The libraries look for the tree they were built for; the fuzz build's own.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$FUZZ_SRC/../tests/lsan.supp}

status=0
rows=()
for name in "${targets[@]}"; do
  bin=$BUILD/fuzz/${name}_fuzzer
  if [ ! -x "$bin" ]; then
    echo "no fuzz target $name" >&2
    status=2
    continue
  fi
  corpus=$BUILD/fuzz-corpus/$name findings=$BUILD/fuzz-findings/$name log=$BUILD/fuzz-logs/$name.log
  mkdir -p "$corpus" "$findings" "$(dirname "$log")"
  [ -d "$FUZZ_SRC/corpus/$name" ] && cp -n "$FUZZ_SRC/corpus/$name"/* "$corpus"/ 2>/dev/null
  options=(-max_total_time="$SECONDS_EACH" -print_final_stats=1 -timeout=20 -rss_limit_mb=2560
           -artifact_prefix="$findings/")
  [ -f "$FUZZ_SRC/dict/$name.dict" ] && options+=(-dict="$FUZZ_SRC/dict/$name.dict")
  printf '== %s: %s s\n' "$name" "$SECONDS_EACH"
  "$bin" "${options[@]}" "$corpus" >"$log" 2>&1
  rc=$?
  # The last status line: "#N  DONE  cov: C ft: F corp: K/SIZE ..." (or the last pulse).
  last=$(grep -E '^#[0-9]+' "$log" | tail -1)
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  files=$(find "$corpus" -type f | wc -l)
  bytes=$(du -sb "$corpus" | cut -f1)
  found=$(find "$findings" -type f | wc -l)
  if ((rc != 0 || found > 0)); then
    status=1
    echo "   found something (exit $rc): see $log and $findings"
  fi
  rows+=("$(printf '%-16s %8s %12s %10s %7s %8s %7s %10s %6s' "$name" "$SECONDS_EACH" \
    "${execs:-?}" "${speed:-?}" "${cov:-?}" "${ft:-?}" "$files" "$bytes" "$found")")
done

printf '\n%-16s %8s %12s %10s %7s %8s %7s %10s %6s\n' target seconds executions "execs/s" \
  cov features files bytes found
printf '%s\n' "${rows[@]}"
exit $status
