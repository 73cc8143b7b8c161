#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks, builds Tordanex, then either runs
# an example session (`example`, the default, which builds the engine alone) or
# the whole test suite (`test`, which builds every target), the latter once in
# Release and once under AddressSanitizer + UBSan.
set -euo pipefail
mode=${1:-example}
cd "$(dirname "$0")/.."

# Configuring takes in the tests, so GoogleTest is needed either way; the
# benchmarks' library only where they are built, and python3 where the suite
# runs the command reference's range snippet.
packages="cmake ninja-build g++ libtclap-dev libtbb-dev libgtest-dev libgmock-dev"
case "$mode" in
  example) ;;
  test) packages="$packages libbenchmark-dev python3" ;;
  *)
    echo "usage: $0 [example|test]" >&2
    exit 2
    ;;
esac
missing=""
for p in $packages; do
  dpkg -s "$p" >/dev/null 2>&1 || missing="$missing $p"
done
if [ -n "$missing" ]; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  echo "installing:$missing"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq $missing >/dev/null
fi

# Both modes configure build/ alike: going from one to the other changes no
# setting, so nothing built already is built again.
jobs=$(nproc)
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null

case "$mode" in
  example)
    cmake --build build -j "$jobs" --target tordanex
    ./build/tordanex examples/river_solve.txt </dev/null | grep -v -E "^(set_range|set_board|set_pot|add_line|clear_lines) ok!$"
    ;;
  test)
    cmake --build build -j "$jobs"
    ctest --test-dir build --output-on-failure -j "$jobs"
    cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DTDX_SANITIZE=ON -DTDX_BUILD_BENCH=OFF >/dev/null
    cmake --build build-sanitize -j "$jobs"
    ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
      ctest --test-dir build-sanitize --output-on-failure -j "$jobs"
    ;;
esac
