#!/usr/bin/env bash
# Sets up the project's environment: a virtual environment (.venv) with Python 3.11 or later
# and what building and solving need (requirements-solve.txt), then builds and installs the
# package into it. Says in one line what it installs and why; safe to run again, since every
# step checks what is already there.
#
# Usage: scripts/bootstrap.sh [--dev | --test] [--python PYTHON] [--venv DIR] [--with-gtest]
#                             [--with-fuzz] [--with-browser] [--no-package]
#   --dev          also the test, lint and documentation tools (requirements-dev.txt)
#   --test         also the Python suite's tools (requirements-test.txt)
#   --python PY    the interpreter (default: $ORVIK_PYTHON, else python3 on PATH when it is
#                  3.11 or later, else python3.13, 3.12 or 3.11, on PATH or under pyenv)
#   --venv DIR     the environment to make or update (default .venv)
#   --with-gtest   Debian's GoogleTest (libgtest-dev), for the C++ tests
#   --with-fuzz    Debian's clang and its libFuzzer runtime (clang, libclang-rt-dev)
#   --with-browser Debian's chromium, the headless browser the service's map page is tested in
#   --no-package   do not build and install the package
#   --plan         print what would be installed and why (nothing when nothing is missing), and
#                  stop; --quiet: install without saying so (scripts/test.sh says it for all)
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# shellcheck source=scripts/common.sh
source "$root/scripts/common.sh"

venv="$root/.venv"
requirements=solve
python=""
with_gtest=0
with_fuzz=0
with_browser=0
with_package=1
plan_only=0
quiet=0
while (($# > 0)); do
  case "$1" in
    --dev) requirements=dev ;;
    --test) requirements=test ;;
    --python) python="${2:?--python needs an interpreter}"; shift ;;
    --venv) venv="${2:?--venv needs a folder}"; shift ;;
    --with-gtest) with_gtest=1 ;;
    --with-fuzz) with_fuzz=1 ;;
    --with-browser) with_browser=1 ;;
    --no-package) with_package=0 ;;
    --plan) plan_only=1 ;;
    --quiet) quiet=1 ;;
    *) echo "bootstrap.sh: unknown argument $1" >&2; exit 2 ;;
  esac
  shift
done
[[ "$venv" == /* ]] || venv="$root/$venv"

# The interpreter, when the environment is to be made or is of another Python than asked.
if [[ -n "$python" ]]; then
  is_supported_python "$python" || {
    echo "bootstrap.sh: $python is not Python 3.11 or later" >&2
    exit 1
  }
  python="$("$python" -c 'import sys; print(sys.executable)')"
fi
venv_python="$venv/bin/python"
if [[ -x "$venv_python" ]] && is_supported_python "$venv_python" &&
  { [[ -z "$python" ]] || [[ "$(python_minor "$venv_python")" == "$(python_minor "$python")" ]]; }; then
  make_venv=0
else
  make_venv=1
  if [[ -z "$python" ]]; then
    python="$(find_python)" || {
      echo "Python 3.11 or later was not found. Install it (for example: apt-get install" >&2
      echo "python3 python3-venv, or pyenv install 3.12) or point ORVIK_PYTHON at one." >&2
      exit 1
    }
  fi
fi

# What is missing, so that one line can say what is installed and why.
requirement_files=("$root/requirements-solve.txt")
[[ $requirements == test || $requirements == dev ]] && requirement_files+=("$root/requirements-test.txt")
[[ $requirements == dev ]] && requirement_files+=("$root/requirements-dev.txt")
stamp="$venv/.orvik-requirements-$requirements"
wanted="$(cat "${requirement_files[@]}")"
pip_needed=0
if ((make_venv)) || [[ ! -f "$stamp" ]] || [[ "$(cat "$stamp")" != "$wanted" ]]; then
  pip_needed=1
fi

gtest_found() { compgen -G '/usr/lib/*/cmake/GTest/GTestConfig.cmake' >/dev/null ||
  [[ -f /usr/lib/cmake/GTest/GTestConfig.cmake ]]; }

# Whether clang++ links a libFuzzer target with the sanitizers the fuzz build uses.
fuzz_toolchain_works() {
  command -v clang++ >/dev/null 2>&1 || return 1
  local dir ok=0
  dir="$(mktemp -d)"
  printf '%s\n' '#include <cstddef>' '#include <cstdint>' \
    'extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t*, std::size_t) { return 0; }' \
    >"$dir/probe.cpp"
  clang++ -std=c++20 -fsanitize=fuzzer,address,undefined "$dir/probe.cpp" -o "$dir/probe" \
    >/dev/null 2>&1 || ok=1
  rm -rf "$dir"
  return $ok
}

debian=()
why=()
if ((with_gtest)) && ! gtest_found; then
  debian+=(libgtest-dev)
  why+=("libgtest-dev (GoogleTest, for the C++ tests)")
fi
if ((with_fuzz)) && ! fuzz_toolchain_works; then
  # The metapackages follow the release's default clang (and its compiler-rt with libFuzzer).
  debian+=(clang libclang-rt-dev)
  why+=("clang and libclang-rt-dev (clang's libFuzzer and sanitizer runtimes, for the fuzz and sanitizer runs)")
fi
if ((with_browser)) && ! command -v chromium >/dev/null 2>&1; then
  debian+=(chromium)
  why+=("chromium (the headless browser the service's map page is tested in)")
fi

plan=""
if ((pip_needed)); then
  case $requirements in
    solve) what="the build tools and the package's dependencies" ;;
    test) what="the build tools, the package's dependencies and the Python suite's tools" ;;
    dev) what="the build, test, lint and documentation tools" ;;
  esac
  names="${requirement_files[*]##*/}"
  plan="from PyPI into ${venv#"$root"/}$(if ((make_venv)); then echo " (new, Python $(python_version "$python"))"; fi): $what (${names// /, })"
fi
if ((${#debian[@]} > 0)); then
  joined="$(printf '%s, ' "${why[@]}")"
  plan+="${plan:+; }from Debian: ${joined%, }"
fi
if ((plan_only)); then
  [[ -n "$plan" ]] && echo "$plan"
  exit 0
fi
if [[ -n "$plan" ]] && ((!quiet)); then
  say "installing $plan"
fi

if ((${#debian[@]} > 0)); then
  if [[ "$(id -u)" -ne 0 ]]; then
    echo "Missing Debian packages. Install them with: sudo apt-get install -y ${debian[*]}" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt_log="$(mktemp)"
  if ! apt-get install -y -q "${debian[@]}" >"$apt_log" 2>&1; then
    apt-get update -q >>"$apt_log" 2>&1 || true
    if ! apt-get install -y -q "${debian[@]}" >>"$apt_log" 2>&1; then
      tail -n 40 "$apt_log" >&2
      echo "bootstrap.sh: apt-get install ${debian[*]} failed (above)" >&2
      exit 1
    fi
  fi
  rm -f "$apt_log"
  if ((with_fuzz)) && ! fuzz_toolchain_works; then
    echo "clang++ still cannot link a libFuzzer target after installing clang and libclang-rt-dev" >&2
    exit 1
  fi
fi

if ((make_venv)); then
  rm -rf "$venv"
  "$python" -m venv "$venv"
fi
if ((pip_needed)); then
  args=()
  for file in "${requirement_files[@]}"; do args+=(-r "$file"); done
  logged "pip" "$root/build/logs/pip-$(basename "$venv").log" \
    "$venv_python" -m pip install --no-compile --upgrade pip "${args[@]}"
  printf '%s' "$wanted" >"$stamp"
fi

if ((with_package)); then
  tag="py$(python_minor "$venv_python")"
  say "building the orvik package (the C++ core and its extension for Python $(python_version "$venv_python")) into ${venv#"$root"/}"
  export PATH="$venv/bin:$PATH"
  logged "build" "$root/build/logs/package-$tag.log" \
    "$venv_python" -m pip install -v --no-build-isolation \
    -Cbuild-dir="build/package-$tag" "$root"
fi
