#!/usr/bin/env bash
# One entry point for everything: ./dev.sh setup|build|test|fuzz|soak|demo
set -euo pipefail
cd "$(dirname "$0")"

PACKAGES=(g++-mingw-w64-x86-64-posix mingw-w64-tools wine64 wine64-tools rapidjson-dev googletest cmake ninja-build
          clang libclang-rt-14-dev)

missing_packages() {
  local p
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
  done
}

setup() {
  local missing
  missing=$(missing_packages)
  [ -z "$missing" ] && return 0
  echo "== installing: $missing"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  # shellcheck disable=SC2086
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends $missing
}

configure() {  # preset
  [ -f "build/$1/build.ninja" ] || cmake --preset "$1" >/dev/null
}

build() {
  local preset
  for preset in "${@:-native windows}"; do
    for p in $preset; do
      echo "== build $p"
      configure "$p"
      cmake --build --preset "$p"
    done
  done
}

run_tests() {
  build native windows native-tsan fuzz
  echo "== test native"
  ctest --preset native
  echo "== test native under ThreadSanitizer (stress)"
  ctest --preset native-tsan
  echo "== test windows (under Wine)"
  ctest --preset windows
  echo "== fuzz briefly"
  run_fuzzers 30
}

# Each fuzz target for the given number of seconds, from its seeds plus what earlier
# runs found (build/fuzz/corpus, kept between runs). A crash stops the run and leaves
# its input in build/fuzz/findings.
run_fuzzers() {  # seconds per target
  local seconds="$1" name log rc
  mkdir -p build/fuzz/findings
  for name in execute whitelist; do
    mkdir -p "build/fuzz/corpus/$name"
    log="build/fuzz/$name.log"
    echo "== fuzz $name for ${seconds}s"
    rc=0
    KESTRANE_LOG=off "build/fuzz/bin/kestrane-fuzz-$name" -max_total_time="$seconds" -print_final_stats=1 \
      -dict=fuzz/json.dict -max_len=4096 -artifact_prefix=build/fuzz/findings/ \
      "build/fuzz/corpus/$name" "fuzz/seeds/$name" >"$log" 2>&1 || rc=$?
    grep -E '^#[0-9]+[[:space:]]+(INITED|DONE)|^stat::(number_of_executed_units|peak_rss)' "$log" || true
    if [ "$rc" -ne 0 ]; then
      tail -n 40 "$log" >&2
      echo "fuzz $name failed (exit $rc): the input is in build/fuzz/findings, the output in $log" >&2
      return 1
    fi
  done
}

fuzz() {
  build fuzz
  run_fuzzers "${1:-300}"
}

# The long resource measurement under Wine: 100 000 mixed calls (or KESTRANE_SOAK_CALLS).
soak() {
  build windows
  export WINEPREFIX="$PWD/build/windows/wineprefix" KESTRANE_LOG=off
  export KESTRANE_SOAK_CALLS="${KESTRANE_SOAK_CALLS:-100000}"
  tools/wine-server.sh start >/dev/null
  trap 'tools/wine-server.sh stop >/dev/null' EXIT
  (cd build/windows/bin && ../../../tools/wine-run.sh kestrane_tests.exe --gtest_filter='Soak.*')
}

demo() {
  build windows
  tools/demo.sh
}

cmd="${1:-}"
shift || true
case "$cmd" in
  setup) setup ;;
  build) setup; build "$@" ;;
  test) setup; run_tests ;;
  fuzz) setup; fuzz "$@" ;;
  soak) setup; soak ;;
  demo) setup; demo ;;
  *) echo "usage: ./dev.sh setup|build [native|windows|native-tsan|fuzz]|test|fuzz [seconds]|soak|demo" >&2; exit 2 ;;
esac
