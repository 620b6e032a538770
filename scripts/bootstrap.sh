#!/usr/bin/env bash
# Sets up the project's environment: a Python 3.12 virtual environment in .venv with the
# build and test tools, (with --with-gtest) Debian's GoogleTest for the C++ tests and (with
# --with-fuzz) Debian's clang with its libFuzzer runtime for tests/fuzz.
# Then builds and installs the package into the environment, unless --no-package is given.
# Safe to run again: every step checks what is already there.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
venv="$root/.venv"
with_gtest=0
with_fuzz=0
with_package=1
for arg in "$@"; do
  case "$arg" in
    --with-gtest) with_gtest=1 ;;
    --with-fuzz) with_fuzz=1 ;;
    --no-package) with_package=0 ;;
    *) echo "bootstrap.sh: unknown argument $arg" >&2; exit 2 ;;
  esac
done

say() { printf '[setup] %s\n' "$*"; }

is_py312() { "$1" -c 'import sys; sys.exit(0 if sys.version_info[:2] == (3, 12) else 1)' 2>/dev/null; }

# Python 3.12: $ORVIK_PYTHON, then python3.12 on PATH, then pyenv's versions, then /usr/bin.
find_python() {
  local candidates=()
  [[ -n "${ORVIK_PYTHON:-}" ]] && candidates+=("$ORVIK_PYTHON")
  command -v python3.12 >/dev/null 2>&1 && candidates+=("$(command -v python3.12)")
  local pyenv_root="${PYENV_ROOT:-$HOME/.pyenv}"
  if command -v pyenv >/dev/null 2>&1; then
    pyenv_root="$(pyenv root)"
  fi
  local d
  for d in "$pyenv_root"/versions/3.12*/bin/python3.12; do
    [[ -x "$d" ]] && candidates+=("$d")
  done
  candidates+=(/usr/local/bin/python3.12 /usr/bin/python3.12)
  local c
  for c in "${candidates[@]}"; do
    if [[ -x "$c" ]] && is_py312 "$c"; then
      echo "$c"
      return 0
    fi
  done
  return 1
}

if [[ ! -x "$venv/bin/python" ]] || ! is_py312 "$venv/bin/python"; then
  py="$(find_python)" || {
    echo "Python 3.12 was not found. Install it, for example with: pyenv install 3.12" >&2
    echo "or point ORVIK_PYTHON at a python3.12 executable." >&2
    exit 1
  }
  say "creating $venv with $py"
  rm -rf "$venv"
  "$py" -m venv "$venv"
fi

stamp="$venv/.requirements-dev.txt"
if ! cmp -s "$root/requirements-dev.txt" "$stamp"; then
  say "installing build and test tools"
  "$venv/bin/python" -m pip install --quiet --upgrade pip
  "$venv/bin/python" -m pip install --quiet -r "$root/requirements-dev.txt"
  cp "$root/requirements-dev.txt" "$stamp"
fi

if [[ $with_gtest -eq 1 ]] && [[ ! -f /usr/lib/x86_64-linux-gnu/cmake/GTest/GTestConfig.cmake ]] &&
  [[ ! -f /usr/lib/cmake/GTest/GTestConfig.cmake ]] && ! ls /usr/lib/*/cmake/GTest/GTestConfig.cmake >/dev/null 2>&1; then
  if [[ "$(id -u)" -eq 0 ]]; then
    say "installing GoogleTest (libgtest-dev)"
    export DEBIAN_FRONTEND=noninteractive
    apt-get install -y -q libgtest-dev >/dev/null 2>&1 || {
      apt-get update -q >/dev/null
      apt-get install -y -q libgtest-dev >/dev/null
    }
  else
    echo "GoogleTest is missing. Install it with: sudo apt-get install -y libgtest-dev" >&2
    exit 1
  fi
fi

# Whether clang++ links a libFuzzer target with the sanitizers the fuzz build uses.
fuzz_toolchain_works() {
  command -v clang++ >/dev/null 2>&1 || return 1
  local dir
  dir="$(mktemp -d)"
  printf '%s\n' '#include <cstddef>' '#include <cstdint>' \
    'extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t*, std::size_t) { return 0; }' \
    >"$dir/probe.cpp"
  local ok=0
  clang++ -std=c++20 -fsanitize=fuzzer,address,undefined "$dir/probe.cpp" -o "$dir/probe" \
    >/dev/null 2>&1 || ok=1
  rm -rf "$dir"
  return $ok
}

if [[ $with_fuzz -eq 1 ]] && ! fuzz_toolchain_works; then
  # The metapackages follow the release's default clang (and its compiler-rt with libFuzzer).
  if [[ "$(id -u)" -eq 0 ]]; then
    say "installing clang and its libFuzzer runtime (clang, libclang-rt-dev)"
    export DEBIAN_FRONTEND=noninteractive
    apt-get install -y -q clang libclang-rt-dev >/dev/null 2>&1 || {
      apt-get update -q >/dev/null
      apt-get install -y -q clang libclang-rt-dev >/dev/null
    }
    fuzz_toolchain_works || {
      echo "clang++ still cannot link a libFuzzer target after installing clang and libclang-rt-dev" >&2
      exit 1
    }
  else
    echo "clang with libFuzzer is missing. Install it with: sudo apt-get install -y clang libclang-rt-dev" >&2
    exit 1
  fi
fi

if [[ $with_package -eq 1 ]]; then
  say "building and installing the orvik package"
  "$venv/bin/python" -m pip install --quiet --no-build-isolation "$root"
fi
