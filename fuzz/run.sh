#!/usr/bin/env bash
# fuzz/run.sh <seconds> [harness...]: builds the libFuzzer harnesses with
# clang into build-fuzz, writes their seed inputs with the repository's own
# generators, and runs each harness (all of them when none is named) for the
# given number of seconds.  Names may be given with or without "fuzz_".
#
# Findings land in build-fuzz/findings/; the grown corpus stays in
# build-fuzz/corpus/<harness>/work for the next run.  Exits non-zero when a
# harness found something.  FUZZ_BUILD=<dir> builds elsewhere,
# FUZZ_SKIP_BUILD=1 reuses the last build (for several runs side by side),
# FUZZ_NICE=<n> lowers their priority.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ $# -lt 1 ] || ! [[ "$1" =~ ^[0-9]+$ ]]; then
  echo "usage: fuzz/run.sh <seconds> [harness...]" >&2
  exit 2
fi
seconds=$1
shift
build=${FUZZ_BUILD:-build-fuzz}

if [ "${FUZZ_SKIP_BUILD:-0}" != 1 ]; then
  CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMIPFORGE_FUZZ=ON \
    -DMIPFORGE_BUILD_EDITOR=OFF -DMIPFORGE_BUILD_TESTS=OFF >/dev/null
  cmake --build "$build" -j "$(nproc)" >/dev/null
fi

corpus=$build/corpus
findings=$build/findings
mkdir -p "$corpus" "$findings"
# Seeds are written afresh (cheap, and they follow the writers); the work
# corpus keeps what earlier runs found.
if [ "${FUZZ_SKIP_BUILD:-0}" != 1 ] || [ ! -d "$corpus/seeds" ]; then
  rm -rf "$corpus/seeds"
  "$build/fuzz/fuzzseeds" "$corpus/seeds"
  if [ -x "$build/fuzz/fuzz_container_seeds" ]; then
    "$build/fuzz/fuzz_container_seeds" "$corpus/seeds/cdds" "$corpus/seeds/texfile" >/dev/null
  fi
fi

harnesses=("$@")
if [ ${#harnesses[@]} -eq 0 ]; then
  for exe in "$build"/fuzz/fuzz_*; do
    name=$(basename "$exe")
    [ -x "$exe" ] && [ -f "$exe" ] && [[ "$name" != *_seeds ]] && harnesses+=("${name#fuzz_}")
  done
fi

status=0
summary=()
for h in "${harnesses[@]}"; do
  h=${h#fuzz_}
  exe=$build/fuzz/fuzz_$h
  if [ ! -x "$exe" ]; then
    echo "run.sh: no harness fuzz_$h" >&2
    status=1
    continue
  fi
  mkdir -p "$corpus/$h/work" "$corpus/seeds/$h"
  log=$findings/$h.log
  # The harnesses keep their input file in /dev/shm under their own pid.
  set +e
  nice -n "${FUZZ_NICE:-0}" "$exe" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=4096 -print_final_stats=1 \
    -artifact_prefix="$findings/$h-" "$corpus/$h/work" "$corpus/seeds/$h" >"$log" 2>&1 &
  pid=$!
  wait $pid
  rc=$?
  set -e
  rm -f /dev/shm/mipforge-fuzz-"$pid"* /tmp/mipforge-fuzz-"$pid"*
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  if [ $rc -ne 0 ]; then
    status=1
    summary+=("fuzz_$h: FINDING (exit $rc, ${execs:-?} runs) - see $log")
    grep -m3 -E 'ERROR|SUMMARY|Test unit written' "$log" >&2 || true
  else
    summary+=("fuzz_$h: ${execs:-?} runs in ${seconds}s, no finding")
  fi
done
printf '%s\n' "${summary[@]}"
exit $status
