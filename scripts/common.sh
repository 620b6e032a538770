# Helpers that scripts/bootstrap.sh, scripts/test.sh and scripts/fuzz.sh share; sourced, not run.

# A line of the set-up or of the test run: "[setup] ...", "[test] ...".
say() { printf '[%s] %s\n' "${ORVIK_SCRIPT:-setup}" "$*"; }

# The whole seconds since the epoch, for the phase timings.
now() { date +%s; }

# Whether an interpreter is a Python this project supports (3.11 or later).
is_supported_python() {
  "$1" -c 'import sys; sys.exit(0 if sys.version_info[:2] >= (3, 11) else 1)' 2>/dev/null
}

# "3.11" for an interpreter.
python_minor() { "$1" -c 'import sys; print("%d.%d" % sys.version_info[:2])'; }

# "3.11.7" for an interpreter.
python_version() { "$1" -c 'import platform; print(platform.python_version())'; }

# The interpreter of a given minor version ("3.12"), or, without one, the first supported of:
# $ORVIK_PYTHON, python3 on PATH, python3.13, python3.12 and python3.11 on PATH, pyenv's
# versions, /usr/local/bin and /usr/bin. Prints its path; fails when there is none.
find_python() {
  local want="${1:-}" candidates=() c d pyenv_root="${PYENV_ROOT:-$HOME/.pyenv}"
  [[ -n "${ORVIK_PYTHON:-}" ]] && candidates+=("$ORVIK_PYTHON")
  for c in python3 python3.13 python3.12 python3.11; do
    command -v "$c" >/dev/null 2>&1 && candidates+=("$(command -v "$c")")
  done
  if command -v pyenv >/dev/null 2>&1; then
    pyenv_root="$(pyenv root)"
  fi
  for d in "$pyenv_root"/versions/3.1[1-9]*/bin/python3; do
    [[ -x "$d" ]] && candidates+=("$d")
  done
  for d in /usr/local/bin /usr/bin; do
    for c in python3 python3.13 python3.12 python3.11; do
      [[ -x "$d/$c" ]] && candidates+=("$d/$c")
    done
  done
  for c in "${candidates[@]}"; do
    # A pyenv shim names a version only where pyenv has it selected; "python3" may not run.
    if [[ -x "$c" ]] && is_supported_python "$c" &&
      { [[ -z "$want" ]] || [[ "$(python_minor "$c")" == "$want" ]]; }; then
      # The interpreter itself, not a shim, so that a venv made from it keeps working.
      "$c" -c 'import sys; print(sys.executable)'
      return 0
    fi
  done
  return 1
}

# Runs a command with its output in a log; prints the log's end when the command fails. While a
# build runs, ninja's "[N/M]" steps become one progress line about every 20 seconds.
# Usage: logged LABEL LOG COMMAND...
logged() {
  local label="$1" log="$2"
  shift 2
  mkdir -p "$(dirname "$log")"
  local start=$SECONDS last=$SECONDS line status
  set +e
  "$@" 2>&1 | {
    : >"$log"
    while IFS= read -r line; do
      printf '%s\n' "$line" >>"$log"
      if [[ "$line" =~ ^[[:space:]]*\[([0-9]+)/([0-9]+)\] ]] && ((SECONDS - last >= 20 ||
        BASH_REMATCH[1] == BASH_REMATCH[2])) && ((BASH_REMATCH[2] > 1)); then
        say "  $label: step ${BASH_REMATCH[1]} of ${BASH_REMATCH[2]} ($((SECONDS - start)) s)"
        last=$SECONDS
      fi
    done
  }
  status=${PIPESTATUS[0]}
  set -e
  if ((status != 0)); then
    tail -n 60 "$log" >&2
    echo "failed: $label (the end of its output is above; all of it in $log)" >&2
    return "$status"
  fi
}
