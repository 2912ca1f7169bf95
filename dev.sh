#!/usr/bin/env bash
# One entry point for everything: ./dev.sh setup|build|test|demo
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
  build native windows
  echo "== test native"
  ctest --preset native
  echo "== test windows (under Wine)"
  ctest --preset windows
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
  demo) setup; demo ;;
  *) echo "usage: ./dev.sh setup|build [native|windows]|test|demo" >&2; exit 2 ;;
esac
