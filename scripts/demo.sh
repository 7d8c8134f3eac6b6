#!/usr/bin/env bash
# Set-up on a fresh machine, then read the sample 835 file (or the file given).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/bootstrap.sh"
exec "$root/.venv/bin/python" "$root/scripts/demo.py" "$@"
