#!/usr/bin/env bash
# Lint and format checks, run by scripts/test.sh (so by CI) and by pre-commit:
# - ruff on the Python code, with the rules pyproject.toml selects;
# - clang-format --dry-run --Werror on every C++ file, with the repository's .clang-format;
# - the layer rule: under src/plenro/, a folder includes only its own and the layers below it
#   (model <- graph <- instance <- plugins, improve <- search; plugins and improve stand side by
#   side and include neither each other nor anything unknown); the core never includes pybind11
#   or Python.
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

# Layers, each with the layers it may include besides its own. A folder under src/plenro/ that
# is not listed here is a layer nobody has placed yet: the check fails until it is.
declare -A below=(
  [model]=""
  [graph]="model"
  [instance]="model graph"
  [plugins]="model graph instance"
  [improve]="model graph instance"
  [search]="model graph instance plugins improve"
)
for dir in src/plenro/*/; do
  layer="$(basename "$dir")"
  if [[ -z "${below[$layer]+set}" ]]; then
    fail "src/plenro/$layer/ is not in the layer table of scripts/lint.sh"
    continue
  fi
  while IFS=: read -r file line target; do
    included="${target%%/*}"
    if [[ "$included" != "$layer" && " ${below[$layer]} " != *" $included "* ]]; then
      fail "$file:$line includes plenro/$target: $layer/ may include only ${below[$layer]:-itself}"
    fi
  done < <(grep -rnoE '^#include "plenro/[^"]+"' "$dir" |
    sed -E 's|^([^:]+):([0-9]+):#include "plenro/([^"]+)"|\1:\2:\3|')
done
if grep -rnE '^#include [<"](pybind11/|Python\.h)' src; then
  fail "the core includes pybind11 or Python headers (above); bindings live in python/bindings"
fi

if ((status == 0)); then
  echo "lint: clean (ruff, clang-format on ${#cxx[@]} C++ files, layer includes)"
fi
exit "$status"
