#!/usr/bin/env bash
# Lint and format checks, run by scripts/test.sh (so by CI) and by pre-commit:
# - ruff on the Python code, with the rules pyproject.toml selects;
# - clang-format --dry-run --Werror on every C++ file, with the repository's .clang-format;
# - the layer rule: under src/plenro/, a folder includes only its own and lower layers
#   (model <- graph <- plugins <- improve <- search); the one accepted crossing is
#   plugins/ including search/search_records.h; the core never includes pybind11 or Python.
# Uses the tools in .venv (scripts/bootstrap.sh installs them) when they are there.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
if [[ -d "$root/.venv/bin" ]]; then
  export PATH="$root/.venv/bin:$PATH"
fi
status=0
fail() {
  printf 'lint: %s\n' "$*" >&2
  status=1
}

# Python.
ruff check --quiet . || fail "ruff found problems (see above)"

# C++ formatting: the files git knows, and new ones it does not ignore.
cxx=()
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  while IFS= read -r file; do
    [[ -f "$file" ]] && cxx+=("$file")
  done < <(git ls-files --cached --others --exclude-standard -- '*.h' '*.hpp' '*.cpp' '*.cc' | sort -u)
else
  while IFS= read -r file; do
    cxx+=("$file")
  done < <(find src python tests -name '*.h' -o -name '*.hpp' -o -name '*.cpp' -o -name '*.cc' | sort)
fi
if ((${#cxx[@]} > 0)); then
  clang-format --dry-run --Werror "${cxx[@]}" || fail "clang-format would change the files above"
fi

# Layers, by their rank; an include of a higher layer crosses the rule.
layers=(model graph plugins improve search)
rank() {
  local i
  for i in "${!layers[@]}"; do
    [[ "${layers[$i]}" == "$1" ]] && { echo "$i"; return; }
  done
  echo -1
}
for layer in "${layers[@]}"; do
  [[ -d "src/plenro/$layer" ]] || continue
  own="$(rank "$layer")"
  while IFS=: read -r file line target; do
    included="${target%%/*}"
    if [[ "$layer" == plugins && "$target" == search/search_records.h ]]; then
      continue
    fi
    if (("$(rank "$included")" > own)); then
      fail "$file:$line includes plenro/$target: $layer/ may not include $included/"
    fi
  done < <(grep -rnoE '^#include "plenro/[^"]+"' "src/plenro/$layer" |
    sed -E 's|^([^:]+):([0-9]+):#include "plenro/([^"]+)"|\1:\2:\3|')
done
if grep -rnE '^#include [<"](pybind11/|Python\.h)' src; then
  fail "the core includes pybind11 or Python headers (above); bindings live in python/bindings"
fi

if ((status == 0)); then
  echo "lint: clean (ruff, clang-format on ${#cxx[@]} C++ files, layer includes)"
fi
exit "$status"
