#!/usr/bin/env bash
# Sets everything up, then runs every check: lint (scripts/lint.sh), the C++ suites under
# ctest, the same suites built with AddressSanitizer and UndefinedBehaviorSanitizer, a 60-second
# fuzz run of the loader and the solver (scripts/fuzz.sh), and the Python suite under pytest.
# Build and ctest output goes to logs under build/ and is printed only when a step fails; a
# passing step prints its summary line.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
"$root/scripts/bootstrap.sh" --with-gtest --with-fuzz
# The map page of `orvik serve` is tested in Debian's chromium (tests/python/test_server_page.py).
if ! command -v chromium >/dev/null 2>&1; then
  if [[ "$(id -u)" -eq 0 ]]; then
    echo "[setup] installing chromium (the browser the map page is tested in)"
    export DEBIAN_FRONTEND=noninteractive
    apt-get install -y -q chromium >/dev/null 2>&1 || {
      apt-get update -q >/dev/null
      apt-get install -y -q chromium >/dev/null
    }
  else
    echo "chromium is missing, so the map page's test will fail: sudo apt-get install -y chromium" >&2
  fi
fi

venv="$root/.venv"
export PATH="$venv/bin:$PATH"
jobs="$(nproc 2>/dev/null || echo 2)"

echo "== Lint"
"$root/scripts/lint.sh"

# Runs a command with its output in a log; prints the log when the command fails.
quietly() {
  local log="$1"
  shift
  if ! "$@" >"$log" 2>&1; then
    cat "$log"
    echo "failed: $* (output above, kept in $log)" >&2
    return 1
  fi
}

build_and_test() {
  local dir="$1"
  shift
  local logs="$root/build/logs"
  mkdir -p "$logs"
  echo "== C++ tests ($dir)"
  quietly "$logs/$dir-configure.log" cmake -S "$root" -B "$root/build/$dir" -G Ninja \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVIK_BUILD_TESTS=ON -DORVIK_BUILD_PYTHON=OFF \
    -DORVIK_WERROR=ON -DPython_EXECUTABLE="$venv/bin/python" "$@"
  quietly "$logs/$dir-build.log" cmake --build "$root/build/$dir" -j "$jobs"
  quietly "$logs/$dir-ctest.log" ctest --test-dir "$root/build/$dir" --output-on-failure -j "$jobs"
  grep -E "tests passed|Total Test time" "$logs/$dir-ctest.log"
}

build_and_test cpp
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  build_and_test asan -DORVIK_SANITIZE=ON

echo "== Fuzz smoke test"
"$root/scripts/fuzz.sh" 60

echo "== Python tests"
python -m pytest -q "$root/tests/python"
