#!/usr/bin/env bash
# Creates bench/.venv-peers: the pure-Python 835 readers that bench_read.py
# compares against, plus what the comparison itself needs. Kept apart from the
# package's dependencies and from the test venv.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
venv="${ZARVI_PEERS_VENV:-$here/.venv-peers}"
python="${PYTHON:-python3}"
if [[ ! -x "$venv/bin/python" ]]; then
  "$python" -m venv "$venv"
fi
"$venv/bin/python" -m pip install --quiet --upgrade pip
"$venv/bin/python" -m pip install --quiet -r "$here/peers/requirements.txt"
echo "$venv"
