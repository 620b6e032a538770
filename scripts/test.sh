#!/usr/bin/env bash
# Sets everything up, then runs every check:
#   lint         scripts/lint.sh (ruff, clang-format, the layer rule)
#   docs         the documentation site, mkdocs build --strict, without a network
#   package      the package built with g++ (warnings as errors) and installed for each Python
#                tested: the Python on PATH (.venv) and the other of 3.11 and 3.12 when there is
#                one (.venv-3.X); a compiler cache under build/ compiles the core once for both
#   sanitizers   one clang build with AddressSanitizer, UndefinedBehaviorSanitizer and
#                libFuzzer's instrumentation: the C++ suites under ctest, and a 60-second fuzz
#                run of the loader and the solver (scripts/fuzz.sh)
#   pytest       the Python suite on each Python, on every core (pytest-xdist)
# Build and test output goes to logs under build/logs, printed only when a step fails; long
# builds print their progress, and every phase its time.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
export ORVIK_SCRIPT=test
# shellcheck source=scripts/common.sh
source "$root/scripts/common.sh"

jobs="$(nproc 2>/dev/null || echo 2)"
logs="$root/build/logs"
mkdir -p "$logs"
started=$SECONDS
phases=()
phase_started=$SECONDS
phase_name=""
begin() {
  phase_name="$1"
  phase_started=$SECONDS
  echo "== $1"
}
end() {
  local took=$((SECONDS - phase_started))
  phases+=("$phase_name $took s")
  say "$phase_name: ${took} s"
}
load() { cut -d' ' -f1-3 /proc/loadavg 2>/dev/null || uptime; }

say "load average at the start (1, 5, 15 min): $(load) on $jobs cores"

# ---------------------------------------------------------------------------------------------
begin "set-up"
venv="$root/.venv"
bootstrap=("$root/scripts/bootstrap.sh")
first_args=(--dev --with-gtest --with-fuzz --with-browser --no-package)
# The environment of the Python on PATH first (an existing .venv keeps its Python).
plan="$("${bootstrap[@]}" "${first_args[@]}" --plan)"
main_python=""
if [[ -x "$venv/bin/python" ]] && is_supported_python "$venv/bin/python"; then
  main_python="$venv/bin/python"
else
  main_python="$(find_python)" || {
    echo "Python 3.11 or later was not found; install one or point ORVIK_PYTHON at it" >&2
    exit 1
  }
fi
main_minor="$(python_minor "$main_python")"
case "$main_minor" in
  3.11) other_minor=3.12 ;;
  *) other_minor=3.11 ;;
esac
other_python="$(find_python "$other_minor" || true)"
other_venv="$root/.venv-$other_minor"
if [[ -n "$other_python" ]]; then
  other_plan="$("${bootstrap[@]}" --test --no-package --python "$other_python" \
    --venv "$other_venv" --plan)"
  [[ -n "$other_plan" ]] && plan="${plan:+$plan; }$other_plan"
fi
[[ -n "$plan" ]] && say "installing $plan"
# Both environments at once: pip waits on downloads and disks as much as on a processor.
other_pid=""
if [[ -n "$other_python" ]]; then
  "${bootstrap[@]}" --test --no-package --python "$other_python" --venv "$other_venv" --quiet &
  other_pid=$!
fi
"${bootstrap[@]}" "${first_args[@]}" --quiet
venvs=("$venv")
if [[ -n "$other_pid" ]]; then
  wait "$other_pid"
  venvs+=("$other_venv")
fi
described=()
for v in "${venvs[@]}"; do
  described+=("$(python_version "$v/bin/python") (${v#"$root"/})")
done
if ((${#venvs[@]} > 1)); then
  say "the Python suite runs on Python ${described[0]} and ${described[1]}"
else
  say "the Python suite runs on Python ${described[0]} only: Python $other_minor was not found" \
    "(install it, for example with pyenv, or point ORVIK_PYTHON at it for .venv)"
fi
export PATH="$venv/bin:$PATH"
json_include="$("$venv/bin/python" -c 'import nlohmann_json; print(nlohmann_json.get_include())')"
end

# ---------------------------------------------------------------------------------------------
begin "lint"
"$root/scripts/lint.sh"
end

# The site builds on the side while the package compiles; its outcome is read after that.
docs_log="$logs/docs.log"
build_docs() {
  local -a isolate=()
  local started=$SECONDS
  # Without a network by construction where this user may make a network namespace.
  if unshare --net true 2>/dev/null; then
    isolate=(unshare --net)
  fi
  NO_MKDOCS_2_WARNING=1 "${isolate[@]}" "$venv/bin/mkdocs" build --strict --quiet --site-dir "$root/build/site" &&
    ! grep -rEl '<(link|script)[^>]+(href|src)="(https?:)?//' "$root/build/site" \
      --include='*.html' | sed 's/^/fetches an asset from another host: /' | grep . &&
    echo $((SECONDS - started)) >"$logs/docs.seconds"
}
rm -f "$logs/docs.seconds"
build_docs >"$docs_log" 2>&1 &
docs_pid=$!

# ---------------------------------------------------------------------------------------------
# The package, for each Python. Compiled with warnings as errors; the compiler cache under
# build/ccache gives the second Python the core's objects of the first.
export CCACHE_DIR="$root/build/ccache" CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=1 \
  CCACHE_MAXSIZE=2G
for v in "${venvs[@]}"; do
  minor="$(python_minor "$v/bin/python")"
  begin "package for Python $minor"
  logged "package $minor" "$logs/package-$minor.log" \
    "$v/bin/python" -m pip install -v --no-build-isolation --no-deps \
    -Cbuild-dir="build/py$minor" \
    -Ccmake.define.ORVIK_WERROR=ON \
    -Ccmake.define.ORVIK_JSON_INCLUDE="$json_include" \
    -Ccmake.define.CMAKE_CXX_COMPILER_LAUNCHER="$venv/bin/ccache" \
    "$root"
  end
done

begin "docs"
docs_status=0
wait "$docs_pid" || docs_status=$?
if ((docs_status != 0)); then
  cat "$docs_log" >&2
  echo "failed: the documentation site (mkdocs build --strict; log $docs_log)" >&2
  exit 1
fi
say "site built in build/site in $(cat "$logs/docs.seconds") s, beside the package build"
end

# ---------------------------------------------------------------------------------------------
# One clang build serves the C++ suites under the sanitizers and the fuzz target.
begin "C++ build with sanitizers (clang, build/sanitize)"
sanitize="$root/build/sanitize"
logged "configure" "$logs/sanitize-configure.log" \
  cmake -S "$root" -B "$sanitize" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DORVIK_SANITIZE=ON -DORVIK_FUZZ=ON -DORVIK_WERROR=ON \
  -DORVIK_BUILD_TESTS=ON -DORVIK_BUILD_PYTHON=OFF -DPython_EXECUTABLE="$venv/bin/python" \
  -DORVIK_JSON_INCLUDE="$json_include"
logged "C++ build" "$logs/sanitize-build.log" cmake --build "$sanitize" -j "$jobs"
end

# The fuzz run takes one core for 60 s; the C++ suites run beside it on the other.
begin "C++ tests under the sanitizers, beside the 60 s fuzz run"
"$root/scripts/fuzz.sh" --build-dir "$sanitize" 60 >"$logs/fuzz-run.log" 2>&1 &
fuzz_pid=$!
ctest_jobs=$((jobs > 2 ? jobs - 1 : 1))
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  logged "ctest" "$logs/sanitize-ctest.log" \
  ctest --test-dir "$sanitize" --output-on-failure -j "$ctest_jobs"
grep -E "tests passed|Total Test time" "$logs/sanitize-ctest.log"
end

# The Python suites start while the fuzzer may still run; its outcome is read after them.
for v in "${venvs[@]}"; do
  minor="$(python_minor "$v/bin/python")"
  begin "Python tests on Python $(python_version "$v/bin/python")"
  "$v/bin/python" -m pytest -q -n "$jobs" -p no:cacheprovider "$root/tests/python"
  end
done

begin "fuzz"
fuzz_status=0
wait "$fuzz_pid" || fuzz_status=$?
cat "$logs/fuzz-run.log"
if ((fuzz_status != 0)); then
  echo "failed: the fuzz run (above; log $logs/fuzz-run.log)" >&2
  exit 1
fi
end

total=$((SECONDS - started))
say "all checks passed in $((total / 60)) min $((total % 60)) s; phases: $(printf '%s, ' "${phases[@]}" | sed 's/, $//')"
say "load average at the end (1, 5, 15 min): $(load)"
