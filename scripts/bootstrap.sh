#!/usr/bin/env bash
# Installs everything a fresh Debian machine needs to build and test zarvi:
# the C++ headers, GoogleTest and ccache from Debian, then .venv with the
# build tools, the test and check dependency groups, and the package built
# from this checkout (its wheel is left in build/dist). Safe to run again.
# ZARVI_WERROR=ON builds the wheel with warnings as errors. ZARVI_CLANG=ON
# also installs clang 19 and its sanitizer runtime, which the test command's
# second sanitized build of the core uses.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

packages=(nlohmann-json3-dev libgtest-dev g++ ccache)
if [ "${ZARVI_CLANG:-OFF}" = ON ]; then
  packages+=(clang-19 libclang-rt-19-dev)
fi
need=()
for pkg in "${packages[@]}"; do
  dpkg -s "$pkg" >/dev/null 2>&1 || need+=("$pkg")
done
if [ ${#need[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${need[@]}"
fi

python=${PYTHON:-python3}
if [ ! -x .venv/bin/python ]; then
  "$python" -m venv .venv
fi
pip=(.venv/bin/python -m pip install -q)
"${pip[@]}" --upgrade "pip>=25.1"  # 25.1 reads dependency groups
"${pip[@]}" "scikit-build-core>=0.11" "cmake>=3.26" ninja
"${pip[@]}" --group test --group check

# Built without isolation, with the tools above, so that build/wheel stays
# valid between runs; ccache serves a fresh checkout.
export CMAKE_CXX_COMPILER_LAUNCHER=ccache
rm -rf build/dist
.venv/bin/python -m pip wheel -q --no-deps --no-build-isolation -w build/dist \
  -C cmake.define.ZARVI_WERROR="${ZARVI_WERROR:-OFF}" .
"${pip[@]}" --no-deps --force-reinstall build/dist/zarvi-*.whl
