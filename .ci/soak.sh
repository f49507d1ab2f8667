#!/usr/bin/env bash
# Soak: a million segments (VELT_SOAK_SEGMENTS) end to end through the
# simulated channel and the Release build of both libraries, seeded
# (VELT_SOAK_SEED); fails on any segment that arrives altered and on any
# channel close. The full soak is the same program with --segments 10000000.
set -euo pipefail
cd "$(dirname "$0")/.."

segments=${VELT_SOAK_SEGMENTS:-1000000}
seed=${VELT_SOAK_SEED:-20261209}
build=${VELT_SOAK_BUILD:-build/release}

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake --preset release -B "$build" >/dev/null
fi
cmake --build "$build" -j2 --target soak VELTSEND VELTRECV
echo "== soak: $segments segments, seed $seed"
"$build/bin/soak" --segments "$segments" --seed "$seed"
