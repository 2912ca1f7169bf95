#!/usr/bin/env bash
# start: creates the prefix (once) and leaves a persistent wineserver running with its
#        output detached, so test processes reuse it and ctest never waits on its pipes.
# stop:  shuts the wineserver of this prefix down and waits for it.
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
case "${1:-}" in
  start)
    mkdir -p "$WINEPREFIX"
    setsid "$WINESERVER" -p </dev/null >/dev/null 2>&1
    setsid /usr/lib/wine/wine64 wineboot -i </dev/null >/dev/null 2>&1
    echo "wineserver running for $WINEPREFIX"
    ;;
  stop)
    "$WINESERVER" -k >/dev/null 2>&1 || true
    "$WINESERVER" -w >/dev/null 2>&1 || true
    echo "wineserver stopped for $WINEPREFIX"
    ;;
  *) echo "usage: wine-server.sh start|stop" >&2; exit 2 ;;
esac
