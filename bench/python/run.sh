#!/usr/bin/env bash
# Runs the reading benchmark: a Release build of zarvi and gen835, the peers'
# venv, the generated files (bench/data), then bench_read.py; with "write"
# first, the writing benchmark (bench_write.py) instead, without the peers;
# with "many" first, parse over many files from a thread pool (bench_many.py).
#   bash bench/python/run.sh [bench_read.py options, e.g. --sizes 1M,10M]
#   bash bench/python/run.sh write [bench_write.py options]
#   bash bench/python/run.sh many [bench_many.py options]
# ZARVI_BENCH_PYTHON: the interpreter that runs zarvi (needs pyarrow and
# polars); by default the repo's .venv, else python3.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
cd "$root"
python="${ZARVI_BENCH_PYTHON:-}"
if [[ -z "$python" ]]; then
  if [[ -x .venv/bin/python ]]; then python=.venv/bin/python; else python=python3; fi
fi
"$python" -c "import pyarrow, polars" || {
  echo "$python lacks pyarrow or polars; set ZARVI_BENCH_PYTHON" >&2
  exit 1
}
bench=read
if [[ "${1:-}" == write || "${1:-}" == many ]]; then
  bench=$1
  shift
fi
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DZARVI_BENCH=ON \
  -DZARVI_TESTS=OFF -DPython3_EXECUTABLE="$("$python" -c 'import sys; print(sys.executable)')" \
  > /dev/null
ninja -C build-bench > /dev/null
if [[ $bench == write ]]; then
  PYTHONPATH="$root/build-bench/python" exec "$python" bench/python/bench_write.py \
    --data bench/data --gen build-bench/bench/gen835 --json bench/data/write_results.json "$@"
fi
if [[ $bench == many ]]; then
  PYTHONPATH="$root/build-bench/python" exec "$python" bench/python/bench_many.py \
    --data bench/data --gen build-bench/bench/gen835 --json bench/data/many_results.json "$@"
fi
peers="$(bash bench/peers/setup.sh | tail -n 1)"
PYTHONPATH="$root/build-bench/python" exec "$python" bench/python/bench_read.py \
  --data bench/data --gen build-bench/bench/gen835 --peers-python "$peers/bin/python" \
  --json bench/data/results.json "$@"
