#!/usr/bin/env bash
# Runs fuzz targets for a given time each and prints, per target, the
# executions, the executions per second and the total.
#   fuzz/run.sh SECONDS [TARGET...]      (targets: image_reader fat_volume
#                                         extraction wildcard command_line; all by default)
# Builds the fuzz targets in $FUZZ_BUILD (default build-fuzz) with clang++.
# Each target keeps its corpus in $FUZZ_BUILD/corpus/TARGET, grown from the
# seeds; a finding lands in $FUZZ_BUILD/findings/TARGET/ and ends the run with 1.
# Runs at low priority (nice); JOBS > 1 runs that many targets at a time.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:?usage: fuzz/run.sh SECONDS [TARGET...]}
shift
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(image_reader fat_volume extraction wildcard command_line)
build=$(realpath -m "${FUZZ_BUILD:-build-fuzz}")   # absolute: a target may change directory
jobs=${JOBS:-1}

CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFUZZING=ON \
  -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j2 >/dev/null
"$build/bin/make_fuzz_seeds" "$build/seeds"
mkdir -p "$build/logs"

run_one() {
  local target=$1
  local corpus="$build/corpus/$target" findings="$build/findings/$target"
  local log="$build/logs/$target.log"
  mkdir -p "$corpus" "$findings" "$build/logs"
  local status=0
  nice "$build/bin/fuzz_$target" -max_total_time="$seconds" -print_final_stats=1 -timeout=20 \
    -artifact_prefix="$findings/" "$corpus" "$build/seeds/$target" >"$log" 2>&1 || status=$?
  local executions
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  executions=${executions:-0}
  printf '%-14s %12s executions in %6s s: %10s per second%s\n' "$target" "$executions" "$seconds" \
    "$((executions / seconds))" "$([ $status -eq 0 ] || echo "  FINDING (exit $status), see $log")"
  return $status
}

total=0
failed=0
pids=()
for target in "${targets[@]}"; do
  run_one "$target" >"$build/logs/$target.summary" &
  pids+=($!)
  if [ ${#pids[@]} -ge "$jobs" ]; then
    wait "${pids[0]}" || failed=1
    pids=("${pids[@]:1}")
  fi
done
for pid in "${pids[@]}"; do wait "$pid" || failed=1; done
for target in "${targets[@]}"; do
  cat "$build/logs/$target.summary"
  count=$(awk '{print $2}' "$build/logs/$target.summary")
  total=$((total + count))
done
printf '%-14s %12s executions\n' total "$total"
exit $failed
