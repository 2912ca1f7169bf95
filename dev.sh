#!/usr/bin/env bash
# One entry point for everything: ./dev.sh setup|build|test|fuzz|soak|package|demo|bench|coverage|mutants
set -euo pipefail
cd "$(dirname "$0")"

PACKAGES=(g++-mingw-w64-x86-64-posix mingw-w64-tools wine64 wine64-tools rapidjson-dev googletest cmake ninja-build
          clang libclang-rt-14-dev libbenchmark-dev valgrind python3 wixl msitools osslsigncode openssl gcovr)

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

# The Windows Installer package, build/kestrane-<version>-x64.msi. With KESTRANE_SIGN_PFX
# (tools/sign.sh), the shipped binaries are signed, packaged again, and the package signed.
package() {
  build windows
  local msi
  msi="kestrane-$(cat VERSION)-x64.msi"
  if [ -n "${KESTRANE_SIGN_PFX:-}" ]; then
    echo "== sign the binaries and the package"
    tools/sign.sh build/windows/bin/{kestrane-host.exe,kestrane-cli.exe,KestraneService.dll,Logging.dll,KestraneClient.dll}
    rm -f "build/windows/$msi"
    cmake --build --preset windows --target kestrane-msi
    tools/sign.sh "build/windows/$msi"
  fi
  cp "build/windows/$msi" "build/$msi"
  echo "== wrote build/$msi ($(stat -c %s "build/$msi") bytes)"
}

demo() {
  package
  tools/demo.sh
}

# Measures the module against the raw registry sequence of each command and writes
# BENCHMARKS.md: under Wine (the product), natively with Google Benchmark, instruction
# counts under callgrind and the wineserver requests of one call of each command.
bench() {
  local out="$PWD/build/bench-results"
  local reps="${KESTRANE_BENCH_REPS:-1000}"
  build windows
  echo "== build native-bench (optimised, no sanitizers)"
  configure native-bench
  cmake --build --preset native-bench --target kestrane_bench kestrane-bench-calls
  rm -rf "$out" && mkdir -p "$out"
  export WINEPREFIX="$PWD/build/windows/wineprefix"
  export KESTRANE_LOG=off
  local cpu=$(($(nproc) - 1))
  echo "== bench under Wine ($reps rounds; the wineserver and the timing thread on CPU $cpu)"
  # On this virtual machine a round trip between two CPUs sometimes waits tens of
  # microseconds for the other to wake, and a whole run then reads several times slower.
  # With the wineserver and the timing thread on one CPU no round trip waits for a wake;
  # the library's log writer still runs on any CPU, as it would beside a real host.
  tools/wine-server.sh stop >/dev/null
  taskset -c "$cpu" tools/wine-server.sh start >/dev/null
  # A short run first, unrecorded: a freshly started prefix's own services are still
  # settling, and the first calls would be timed against them.
  (cd build/windows/bin && ../../../tools/wine-run.sh kestrane-bench.exe --reps 50 --cpu "$cpu" >/dev/null)
  (cd build/windows/bin && ../../../tools/wine-run.sh kestrane-bench.exe --reps "$reps" --cpu "$cpu") | tee "$out/wine.tsv"
  # Five runs, each its own process, and the median run reported: a run's ratio still
  # moves by about 0.01 from one to the next.
  echo "== a logged against an unlogged id 4 call under Wine (log to a file, five runs)"
  : >"$out/log-cost.tsv"
  for run in 1 2 3 4 5; do
    (cd build/windows/bin && KESTRANE_LOG="Z:${out//\//\\}\\log-cost.log" \
       ../../../tools/wine-run.sh kestrane-bench.exe --log-cost --reps "$((reps * 3))" --cpu "$cpu") |
      tee -a "$out/log-cost.tsv"
  done
  # The host bench runs many processes at once: on every CPU.
  tools/wine-server.sh stop >/dev/null
  tools/wine-server.sh start >/dev/null
  echo "== host end to end under Wine (1 and 8 clients)"
  (cd build/windows/bin && ../../../tools/wine-run.sh kestrane-host-bench.exe --reps "$((reps * 2))") |
    tee "$out/host.tsv"
  tools/wine-server.sh stop >/dev/null
  echo "== wineserver requests per call (WINEDEBUG=+server on a fresh wineserver)"
  (cd build/windows/bin && WINEDEBUG=+server ../../../tools/wine-run.sh kestrane-bench.exe --trace --largest 100 \
     >/dev/null 2>"$out/server-trace.log")
  /usr/lib/wine/wineserver -w
  echo "== bench natively (Google Benchmark, random interleaving)"
  build/native-bench/bin/kestrane_bench --benchmark_enable_random_interleaving=true \
    --benchmark_repetitions=10 --benchmark_min_time=0.05 --benchmark_report_aggregates_only=true \
    --benchmark_out="$out/native.json" --benchmark_out_format=json
  echo "== heap allocations and instructions per call (callgrind)"
  build/native-bench/bin/kestrane-bench-calls 1000 >"$out/allocations.tsv"
  valgrind --tool=callgrind --compress-strings=no --compress-pos=no --callgrind-out-file="$out/callgrind.out" \
    build/native-bench/bin/kestrane-bench-calls 100 >/dev/null 2>"$out/callgrind.log"
  python3 bench/report.py write BENCHMARKS.md "$out"
  echo "== wrote BENCHMARKS.md"
}

# Line coverage of the module by the native suite (no sanitizers), per folder and in total.
coverage() {
  build native-coverage
  find build/native-coverage -name '*.gcda' -delete
  echo "== run the native suite"
  (cd build/native-coverage/bin && KESTRANE_LOG=off ./kestrane_tests --gtest_brief=1)
  # The suite's threads update the counters atomically (see the preset); CMake's own
  # compiler probes left data files of no interest.
  gcovr --root . build/native-coverage --exclude-directories 'build/native-coverage/CMakeFiles/3' \
    --json build/native-coverage/coverage.json --filter 'access/' --filter 'commands/' --filter 'json/' --filter 'service/' --filter 'logging/'
  python3 tools/coverage-summary.py build/native-coverage/coverage.json access commands json service logging
}

# The fixed mutant list, each rebuilt and run against the native suite, at the lowest
# priority: the machine is shared.
mutants() {
  nice -n 19 python3 tools/mutants.py "$@"
}

cmd="${1:-}"
shift || true
case "$cmd" in
  setup) setup ;;
  build) setup; build "$@" ;;
  test) setup; run_tests ;;
  fuzz) setup; fuzz "$@" ;;
  soak) setup; soak ;;
  package) setup; package ;;
  demo) setup; demo ;;
  bench) setup; bench ;;
  coverage) setup; coverage ;;
  mutants) setup; mutants "$@" ;;
  *) echo "usage: ./dev.sh setup|build [native|windows|native-tsan|fuzz|native-bench|native-coverage]|test|fuzz [seconds]|soak|package|demo|bench|coverage|mutants [--only FILE]" >&2; exit 2 ;;
esac
