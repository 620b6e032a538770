#!/usr/bin/env bash
# Fuzzes the JSON loader and the solver: builds tests/fuzz with clang, libFuzzer,
# AddressSanitizer and UndefinedBehaviorSanitizer (in build/fuzz, or the build folder given),
# then runs the target on one core for SECONDS (default 60), starting from the test instances
# and the examples.
#
# Usage: scripts/fuzz.sh [--build-dir DIR] [SECONDS] [extra libFuzzer flags...]
#   --build-dir DIR  a build folder configured with ORVIK_FUZZ=ON and ORVIK_SANITIZE=ON
#                    (scripts/test.sh's build/sanitize, which also holds the C++ suites); its
#                    configuration is kept and only the fuzz target is brought up to date
#
# libFuzzer's output goes to fuzz.log in the build folder; its closing figures are printed.
# A crash, a sanitizer report, a leak, a hang or a wrong solution fails the run (exit status 1),
# prints the end of the log and leaves the reproducer in artifacts/ there; replay one with
#   build/fuzz/tests/fuzz/loader_solve_fuzzer build/fuzz/artifacts/crash-...
# Inputs that found new coverage are kept in corpus/ there for the next run.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build/fuzz"
given_build=0
if [[ "${1:-}" == --build-dir ]]; then
  build="${2:?--build-dir needs a folder}"
  [[ "$build" == /* ]] || build="$root/$build"
  given_build=1
  shift 2
fi
seconds="${1:-60}"
[[ $# -gt 0 ]] && shift
if ! [[ "$seconds" =~ ^[1-9][0-9]*$ ]]; then
  echo "fuzz.sh: SECONDS must be a positive whole number, got '$seconds'" >&2
  exit 2
fi

venv="$root/.venv"
target="$build/tests/fuzz/loader_solve_fuzzer"
corpus="$build/corpus"
artifacts="$build/artifacts"
log="$build/fuzz.log"

if ((given_build)); then
  grep -q '^ORVIK_FUZZ:BOOL=ON' "$build/CMakeCache.txt" 2>/dev/null || {
    echo "fuzz.sh: $build is not a build folder configured with ORVIK_FUZZ=ON" >&2
    exit 2
  }
else
  # The venv holds the JSON headers; clang and its libFuzzer runtime come from Debian's packages.
  "$root/scripts/bootstrap.sh" --with-fuzz --no-package
fi
export PATH="$venv/bin:$PATH"

echo "== fuzz build ($build)"
mkdir -p "$build"
build_log="$build/build-fuzzer.log"
if ! { { ((given_build)) || cmake -S "$root" -B "$build" -G Ninja \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ -DORVIK_FUZZ=ON \
  -DORVIK_SANITIZE=ON -DORVIK_WERROR=ON -DORVIK_BUILD_TESTS=OFF -DORVIK_BUILD_PYTHON=OFF \
  -DPython_EXECUTABLE="$venv/bin/python"; } &&
  cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" --target loader_solve_fuzzer; } \
  >"$build_log" 2>&1; then
  cat "$build_log" >&2
  echo "fuzz.sh: the fuzz target did not build (log $build_log)" >&2
  exit 1
fi

mkdir -p "$corpus" "$artifacts"
stamp="$build/.fuzz-started"
touch "$stamp"
echo "== fuzzing for ${seconds}s (reproducers go to $artifacts/)"
status=0
ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:strict_string_checks=1}" \
  UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}" \
  "$target" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 -max_len=16384 \
  -dict="$root/tests/fuzz/instance.dict" -close_fd_mask=3 -print_final_stats=1 \
  -artifact_prefix="$artifacts/" "$@" \
  "$corpus" "$root/tests/data/python" "$root/examples" >"$log" 2>&1 || status=$?
grep -E '^(Done|stat::)' "$log" || true

new_artifacts="$(find "$artifacts" -type f -newer "$stamp")"
if [[ $status -ne 0 || -n "$new_artifacts" ]]; then
  tail -n 80 "$log" >&2
  echo "fuzz.sh: the fuzzer found a failure (status $status; log $log); reproducers:" >&2
  echo "${new_artifacts:-  (none written)}" >&2
  exit 1
fi
echo "fuzz.sh: no failure in ${seconds}s"
