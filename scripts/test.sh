#!/usr/bin/env bash
# Sets everything up, then runs every test: the C++ suites under ctest, the same suites built
# with AddressSanitizer and UndefinedBehaviorSanitizer, a 60-second fuzz run of the loader and
# the solver (scripts/fuzz.sh), and the Python suite under pytest.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
"$root/scripts/bootstrap.sh" --with-gtest --with-fuzz

venv="$root/.venv"
export PATH="$venv/bin:$PATH"
jobs="$(nproc 2>/dev/null || echo 2)"

build_and_test() {
  local dir="$1"
  shift
  echo "== C++ tests ($dir)"
  cmake -S "$root" -B "$root/build/$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DORVIK_BUILD_TESTS=ON -DORVIK_BUILD_PYTHON=OFF -DORVIK_WERROR=ON \
    -DPython_EXECUTABLE="$venv/bin/python" "$@" >/dev/null
  cmake --build "$root/build/$dir" -j "$jobs"
  ctest --test-dir "$root/build/$dir" --output-on-failure -j "$jobs"
}

build_and_test cpp
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  build_and_test asan -DORVIK_SANITIZE=ON

echo "== Fuzz smoke test"
"$root/scripts/fuzz.sh" 60

echo "== Python tests"
python -m pytest -q "$root/tests/python"
