#!/usr/bin/env bash
# Installs everything a fresh Debian machine needs to build and test zarvi:
# the C++ headers and GoogleTest from Debian, then .venv with the package and
# its test extra. Safe to run again.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

need=()
for pkg in nlohmann-json3-dev libgtest-dev g++; do
  dpkg -s "$pkg" >/dev/null 2>&1 || need+=("$pkg")
done
if [ ${#need[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${need[@]}"
fi

python=${PYTHON:-python3}
if [ ! -x .venv/bin/python ]; then
  "$python" -m venv .venv
fi
.venv/bin/python -m pip install -q --upgrade pip
.venv/bin/python -m pip install -q "scikit-build-core>=0.10" "cmake>=3.26" ninja
.venv/bin/python -m pip install -q ".[test]"
