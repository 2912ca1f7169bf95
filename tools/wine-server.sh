#!/usr/bin/env bash
# start: creates the prefix (once) and leaves a persistent wineserver running with its
#        output detached, so test processes reuse it and ctest never waits on its pipes.
# stop:  shuts the wineserver of this prefix down and waits for it.
# fresh: stop, delete the prefix (only one inside a build folder), start: a machine that
#        never had the product installed.
set -uo pipefail
if [ -z "${WINEPREFIX:-}" ]; then
  echo "wine-server.sh: WINEPREFIX is not set" >&2
  exit 2
fi
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
# Debian's wine64 package does not put wineserver on PATH.
WINESERVER=/usr/lib/wine/wineserver
[ -x "$WINESERVER" ] || WINESERVER=wineserver
start() {
  mkdir -p "$WINEPREFIX"
  setsid "$WINESERVER" -p </dev/null >/dev/null 2>&1
  # The first program boots (or creates) the prefix. Not "wineboot -i": with a persistent
  # wineserver that left two service managers running, each answering every other request.
  setsid /usr/lib/wine/wine64 cmd /c exit </dev/null >/dev/null 2>&1
  echo "wineserver running for $WINEPREFIX"
}
stop() {
  "$WINESERVER" -k >/dev/null 2>&1 || true
  "$WINESERVER" -w >/dev/null 2>&1 || true
  echo "wineserver stopped for $WINEPREFIX"
}
case "${1:-}" in
  start) start ;;
  stop) stop ;;
  fresh)
    case "$WINEPREFIX" in
      */build/*) ;;
      *) echo "wine-server.sh: fresh deletes the prefix, so only one under a build folder" >&2; exit 2 ;;
    esac
    stop >/dev/null
    rm -rf "$WINEPREFIX"
    start
    ;;
  *) echo "usage: wine-server.sh start|stop|fresh" >&2; exit 2 ;;
esac
