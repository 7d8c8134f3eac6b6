#!/usr/bin/env bash
# The test command: set-up, the GoogleTest suite (plain and under ASan and
# UBSan), then the Python suite against the installed package.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/bootstrap.sh
export PATH="$root/.venv/bin:$PATH"
jobs=$(nproc)

echo "== core tests"
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZARVI_PYTHON=OFF >/dev/null
ninja -C build/release
ctest --test-dir build/release --output-on-failure -j "$jobs"

echo "== core tests under AddressSanitizer and UBSan"
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZARVI_SANITIZE=ON >/dev/null
ninja -C build/asan
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build/asan --output-on-failure -j "$jobs"

echo "== python tests"
cd tests  # import the installed package, not the source folder
"$root/.venv/bin/python" -m pytest -q "$root/tests/python"
