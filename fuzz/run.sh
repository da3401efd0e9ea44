#!/usr/bin/env bash
# Runs each fuzz target of the `fuzz` build for a bounded time, starting from the checked-in seed
# corpus copied to a scratch folder, so runs never write into the repository.
# Usage: fuzz/run.sh SECONDS_PER_TARGET [JOBS] [TARGET...]   (targets: host_calls frames
# cast_walk reload image_file webcam_frames at_options video_file). JOBS > 1 runs that many
# fuzzing processes per target at once (libFuzzer's fork mode).
# Keep what a long run found with: build/fuzz/bin/fuzz_T -merge=1 fuzz/corpus/T SCRATCH/T
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:?seconds per target}
shift
jobs=1
if [[ ${1:-} =~ ^[0-9]+$ ]]; then
  jobs=$1
  shift
fi
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(host_calls frames cast_walk reload image_file webcam_frames at_options
  video_file)
# A small quarantine: an input frees little, and the default 256 MB made every run touch fresh
# pages (page faults were a fifth of the time) until it filled.
export ASAN_OPTIONS=${ASAN_OPTIONS:-quarantine_size_mb=16}
scratch=${KINETISCAN_FUZZ_SCRATCH:-$(mktemp -d)}
echo "fuzz: scratch corpus and any crash files in $scratch"

status=0
for target in "${targets[@]}"; do
  mkdir -p "$scratch/$target"
  [ -d fuzz/corpus/"$target" ] && cp -n fuzz/corpus/"$target"/* "$scratch/$target/"
  log="$scratch/$target.log"
  parallel=()
  [ "$jobs" -gt 1 ] && parallel=(-fork="$jobs")
  if build/fuzz/bin/fuzz_"$target" -max_total_time="$seconds" -timeout=30 -print_final_stats=1 \
    "${parallel[@]}" -artifact_prefix="$scratch/$target-" "$scratch/$target" >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    # Fork mode reports its total in its last progress line instead.
    [ -z "$runs" ] && runs=$(sed -n 's/^#\([0-9]*\):.*/\1/p' "$log" | tail -1)
    echo "fuzz_$target: $runs executions in ${seconds}s ($((runs / seconds))/s, $jobs job(s)), no finding;" \
      "corpus $(ls "$scratch/$target" | wc -l) inputs ($(ls fuzz/corpus/"$target" 2>/dev/null | wc -l) seeds)"
  else
    echo "fuzz_$target: FINDING (input kept in $scratch):"
    grep -v '^#\|^INFO\|^MS:\|^\s*"' "$log" | tail -60
    status=1
  fi
done
exit $status
