#!/usr/bin/env bash
# The test command: set-up, the GoogleTest suite (plain, then under ASan and
# UBSan built by GCC and again by clang), the Python suite against the
# installed wheel and again against a sanitized build of the extension, an
# exit while threads parse under a ThreadSanitizer build of the extension,
# then the wheel's stable ABI, the stubs, and a release built the standard
# way (an sdist, a wheel from it) that installs and reads.
# Every build treats warnings as errors.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

# ccache keys on paths relative to the checkout, so a fresh clone elsewhere
# still finds the objects of an earlier one.
export CMAKE_CXX_COMPILER_LAUNCHER=ccache CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=1
ZARVI_WERROR=ON ZARVI_CLANG=ON bash scripts/bootstrap.sh
export PATH="$root/.venv/bin:$PATH"
jobs=$(nproc)

echo "== core tests"
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZARVI_PYTHON=OFF \
  -DZARVI_WERROR=ON >/dev/null
ninja -C build/release
ctest --test-dir build/release --output-on-failure -j "$jobs"

echo "== core tests under AddressSanitizer and UBSan"
# The same build assembles a sanitized package in build/asan/python.
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZARVI_SANITIZE=ON \
  -DZARVI_PYTHON=ON -DZARVI_WERROR=ON >/dev/null
ninja -C build/asan
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build/asan --output-on-failure -j "$jobs"

echo "== core tests under clang's AddressSanitizer and UBSan"
# clang's UBSan sees what GCC's misses, such as an offset added to a null
# pointer. The core alone: the extension's sanitized build is GCC's.
cmake -S . -B build/clang-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++-19 \
  -DZARVI_SANITIZE=ON -DZARVI_PYTHON=OFF -DZARVI_WERROR=ON >/dev/null
ninja -C build/clang-asan
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build/clang-asan --output-on-failure -j "$jobs"

echo "== python tests"
cd tests  # import the installed package, not the source folder
python -m pytest -q -p no:cacheprovider "$root/tests/python"

echo "== python tests on the sanitized extension, warnings as errors"
# The interpreter is not instrumented: the sanitizer runtime is preloaded,
# and leak checks are off since the interpreter keeps memory until exit.
sanitized=(env "LD_PRELOAD=$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libubsan.so)"
  ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1
  PYTHONPATH="$root/build/asan/python" python -X dev -W error)
"${sanitized[@]}" -c 'import sys, zarvi._core as c; sys.exit("/build/asan/" not in c.__file__)'
"${sanitized[@]}" -m pytest -q -p no:cacheprovider "$root/tests/python"

echo "== exit while threads parse, under ThreadSanitizer"
cmake -S "$root" -B "$root/build/tsan" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZARVI_TSAN=ON \
  -DZARVI_PYTHON=ON -DZARVI_TESTS=OFF -DZARVI_WERROR=ON >/dev/null
ninja -C "$root/build/tsan" _core
ZARVI_TSAN_PACKAGE="$root/build/tsan/python" python -m pytest -q -p no:cacheprovider \
  "$root/tests/python/test_limits.py" -k races_nothing_of_ours
cd "$root"

echo "== stable ABI of the wheel"
abi3audit --strict --summary build/dist/zarvi-*.whl

echo "== stubs against the installed package (every module of it)"
python -m mypy.stubtest zarvi

echo "== a release: the sdist, a wheel built from it, installed into a fresh venv"
release=$(mktemp -d)
trap 'rm -rf "$release"' EXIT
python -m build --outdir "$release/dist" . >"$release/build.log" 2>&1 ||
  { tail -40 "$release/build.log"; exit 1; }
# Every tracked file is in the sdist, so a build from it has all it needs.
git ls-files | python -c '
import sys, tarfile
names = {n.split("/", 1)[1] for n in tarfile.open(sys.argv[1]).getnames() if "/" in n}
missing = [f for f in sys.stdin.read().splitlines() if f not in names]
sys.exit(f"missing from the sdist: {missing}" if missing else None)' "$release"/dist/zarvi-*.tar.gz
python -m venv "$release/venv"
"$release/venv/bin/python" -m pip install -q "$release"/dist/zarvi-*.whl
(cd "$release" && "$release/venv/bin/python" -c '
import sys, zarvi
assert zarvi.__file__.startswith(sys.prefix), zarvi.__file__
result = zarvi.parse(open(sys.argv[1], "rb").read())
print(f"read {sys.argv[1]}: {result.count_claims()} claims, paid {result.sum_payments()}, "
      f"{len(result.diagnostics)} diagnostics")' "$root/tests/data/simple_5010.835")
