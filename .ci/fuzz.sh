#!/usr/bin/env bash
# Bounded fuzzing: builds the libFuzzer targets (preset "fuzz": clang, ASan +
# UBSan), writes the seed corpora from the simulated channel, replays the
# inputs of earlier findings, then fuzzes each target for a fixed time.
# Any finding (crash, sanitizer report, leak, timeout) fails the run; its input
# is left in <build>/artifacts.
#
# Environment: VELT_FUZZ_SECONDS (default 60) per target,
#              VELT_FUZZ_BUILD (default build/fuzz) build directory.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${VELT_FUZZ_SECONDS:-60}
build=${VELT_FUZZ_BUILD:-build/fuzz}

export DEBIAN_FRONTEND=noninteractive
need=()
for pkg in clang-14 libclang-rt-14-dev; do
  dpkg -s "$pkg" >/dev/null 2>&1 || need+=("$pkg")
done
if [ ${#need[@]} -gt 0 ]; then
  echo "== installing: ${need[*]}"
  apt-get update -qq
  apt-get install -y -qq "${need[@]}" >/dev/null
fi

echo "== fuzz build in $build"
cmake --preset fuzz -B "$build" >/dev/null
cmake --build "$build" -j2

bin=$build/bin
mkdir -p "$build/corpus" "$build/artifacts"
"$bin/fuzz_seeds" "$build/seeds"

# Per target: the largest input tried. Large enough for full-length segments
# of the smaller segment sizes and for several records; messages reach any
# size through their fill byte.
declare -A max_len=([decode]=70000 [decode_sse2]=70000 [recv]=20000 [roundtrip]=20000 [config]=4096 [stats_reader]=16384
                  [log_reader]=16384)

status=0
summary=()
for target in decode decode_sse2 recv roundtrip config stats_reader log_reader; do
  exe=$bin/fuzz_$target
  base=${target%_sse2}  # both decode targets take the decoder's findings and seeds
  regressions=fuzz/regressions/$base
  if [ -d "$regressions" ] && [ -n "$(ls -A "$regressions")" ]; then
    echo "== fuzz_$target: earlier findings"
    "$exe" -runs=0 "$regressions"/* >"$build/$target-regressions.log" 2>&1 || {
      tail -n 30 "$build/$target-regressions.log"
      echo "fuzz_$target: an earlier finding is back"
      status=1
    }
  fi

  echo "== fuzz_$target: ${seconds}s"
  corpus=$build/corpus/$target
  mkdir -p "$corpus"
  log=$build/$target.log
  if "$exe" "$corpus" "$build/seeds/$base" -max_total_time="$seconds" -max_len="${max_len[$target]}" \
      -timeout=30 -rss_limit_mb=2560 -print_final_stats=1 \
      -artifact_prefix="$build/artifacts/$target-" >"$log" 2>&1; then
    result=ok
  else
    result=FINDING
    status=1
    grep -E "ERROR|runtime error|SUMMARY|Test unit written" "$log" | head -n 20 || true
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  cov=$(grep -oE 'cov: [0-9]+ ft: [0-9]+' "$log" | tail -n 1)
  summary+=("fuzz_$target: $result, ${runs:-?} executions, ${cov:-no coverage line}, corpus $(ls "$corpus" | wc -l) inputs")
done

echo "== fuzzing summary (${seconds}s per target)"
printf '  %s\n' "${summary[@]}"
exit $status
