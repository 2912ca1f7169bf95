#!/usr/bin/env bash
# Starts kestrane-host under Wine in the build's prefix, drives every command through
# kestrane-cli, and stops the host and the wineserver again. Run from the repository.
set -uo pipefail
export WINEPREFIX="$PWD/build/windows/wineprefix"
export KESTRANE_LOG="${KESTRANE_LOG:-off}"
BIN=build/windows/bin
RUN="$PWD/tools/wine-run.sh"
ENDPOINT="kestrane-demo-$$"
KEY='HKLM\SOFTWARE\QV\KestraneDemo'

tools/wine-server.sh start >/dev/null
HOST_PID=
cleanup() {
  [ -n "$HOST_PID" ] && kill "$HOST_PID" 2>/dev/null
  tools/wine-server.sh stop >/dev/null
}
trap cleanup EXIT

cli() {
  echo
  echo "\$ kestrane-cli $*"
  (cd "$BIN" && "$RUN" kestrane-cli.exe --endpoint "$ENDPOINT" --client-id demo "$@")
  echo "(exit code $?)"
}

(cd "$BIN" && exec "$RUN" kestrane-host.exe run --endpoint "$ENDPOINT" --allow-stop) &
HOST_PID=$!
for _ in $(seq 1 60); do
  (cd "$BIN" && "$RUN" kestrane-cli.exe --endpoint "$ENDPOINT" host-status >/dev/null 2>&1) && break
  sleep 0.5
done

cli add "$KEY\\Settings"
cli set "$KEY" Name REG_SZ Kestrane
cli set "$KEY" Home REG_EXPAND_SZ '%SystemRoot%\Kestrane'
cli set "$KEY" Blob REG_BINARY S2VzdHJhbmU=
cli set "$KEY" Count REG_DWORD 42
cli set "$KEY" Big REG_QWORD 9223372036854775807
cli set "$KEY" Tags REG_MULTI_SZ '["read","write"]'
cli query "$KEY" Home
cli query "$KEY" Home --expand
cli query "$KEY"
cli subkeys "$KEY"
cli exists "$KEY\\Settings"
cli delete "$KEY" Count
cli delete "$KEY\\Settings"
cli delete "$KEY"
cli exists "$KEY"
echo
echo "# a write outside the write whitelist is refused:"
cli set 'HKLM\SOFTWARE\Microsoft' Kestrane REG_DWORD 1
cli host-stop
wait "$HOST_PID"
echo "kestrane-host exited with $?"
HOST_PID=
