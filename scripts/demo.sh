#!/usr/bin/env bash
# Sets up what solving needs (scripts/bootstrap.sh: .venv and the package), then solves the
# bundled example instance and prints the routes.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/bootstrap.sh"
exec "$root/.venv/bin/orvik" solve "$root/examples/two_robots_square.json"
