#!/usr/bin/env bash
# Sets everything up, then runs Orvik on the bundled example instance.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/bootstrap.sh"
exec "$root/.venv/bin/orvik" info "$root/examples/two_robots_square.json"
