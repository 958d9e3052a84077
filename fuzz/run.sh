#!/usr/bin/env bash
# Builds the fuzz targets with clang++-14 in build-fuzz/ and runs each for
# SECONDS from a fresh copy of its corpus (fuzz/corpus/<target>/).
#
#   fuzz/run.sh SECONDS [TARGET...]      targets: fuzz_reader fuzz_card fuzz_tform (default: all)
#
# Prints the executions run per target and any crash, leak or timeout file;
# exits 1 when a target found something. The copies of the corpus (and what
# they grow into) and the crash files stay in build-fuzz/run/<target>/.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

if [ $# -lt 1 ] || ! [[ "$1" =~ ^[0-9]+$ ]]; then
  echo "usage: fuzz/run.sh SECONDS [TARGET...]" >&2
  exit 2
fi
seconds="$1"
shift
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fuzz_reader fuzz_card fuzz_tform)

cxx="${CXX_FUZZ:-clang++-14}"
if ! command -v "$cxx" >/dev/null; then
  echo "fuzz/run.sh: $cxx not found (set CXX_FUZZ to a clang++ with libFuzzer)" >&2
  exit 2
fi
build="$root/build-fuzz"
cmake -S "$root" -B "$build" -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTESSARY_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j2 --target "${targets[@]}" >/dev/null

found=0
total=0
for target in "${targets[@]}"; do
  work="$build/run/$target"
  rm -rf "$work"
  mkdir -p "$work/corpus" "$work/artifacts"
  cp -R "$root/fuzz/corpus/$target/." "$work/corpus/"
  log="$work/log.txt"
  set +e
  "$build/fuzz/$target" -dict="$root/fuzz/fits.dict" -max_total_time="$seconds" \
    -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$work/artifacts/" "$work/corpus" >"$log" 2>&1
  rc=$?
  set -e
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  if [ -z "$execs" ]; then
    # A crash ends the run before the final statistics; take the last status line.
    execs=$(grep -o '^#[0-9]*' "$log" | tail -n 1 | tr -d '#')
  fi
  execs="${execs:-0}"
  total=$((total + execs))
  echo "$target: $execs executions in ${seconds}s, exit status $rc"
  crashes=$(find "$work/artifacts" -type f | sort)
  if [ $rc -ne 0 ] || [ -n "$crashes" ]; then
    found=1
    echo "$target: FOUND SOMETHING (log: $log)"
    grep -m 5 -E '^(==[0-9]+==ERROR|SUMMARY|\*\*\*|.*runtime error)' "$log" || true
    for f in $crashes; do echo "  $f"; done
  fi
done
echo "total: $total executions"
exit $found
