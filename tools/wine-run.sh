#!/usr/bin/env bash
# Runs a Windows program under Wine in the build's own prefix, never the user's ~/.wine.
#
# The program writes to files that are copied out while it runs, never straight to our
# standard output: every process it starts under Wine inherits its Unix standard error,
# and one that outlives it (a host a test could not end, a desktop or console process
# Wine started for it) would keep a pipe like ctest's open, and ctest would wait for it
# until its timeout. Such processes are named once the program has ended.
set -euo pipefail
if [ -z "${WINEPREFIX:-}" ]; then
  echo "wine-run.sh: WINEPREFIX is not set; refusing to fall back to ~/.wine" >&2
  exit 2
fi
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

out=$(mktemp "${TMPDIR:-/tmp}/wine-run.XXXXXX")
err="$out.err"
: >"$err"
trap 'rm -f "$out" "$err"' EXIT

# One file when both streams go to the same place, so their lines keep their order.
if [ /dev/stdout -ef /dev/stderr ]; then
  /usr/lib/wine/wine64 "$@" <&0 >"$out" 2>&1 &
else
  /usr/lib/wine/wine64 "$@" <&0 >"$out" 2>"$err" &
fi
program=$!
tail -s 0.05 -n +1 -f --pid="$program" "$out" &
copy_out=$!
tail -s 0.05 -n +1 -f --pid="$program" "$err" >&2 &
copy_err=$!
rc=0
wait "$program" || rc=$?
wait "$copy_out" "$copy_err" || true

# Who still holds the program's output: started by it, still running after it ended.
left=""
for fd in /proc/[0-9]*/fd/*; do
  target=$(readlink "$fd" 2>/dev/null) || continue
  if [ "$target" = "$out" ] || [ "$target" = "$err" ]; then
    pid=${fd#/proc/}
    pid=${pid%%/*}
    case " $left " in *" $pid "*) ;; *) left="$left $pid" ;; esac
  fi
done
for pid in $left; do
  command=$(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | sed 's/ *$//') || continue
  # The wineserver keeps the file for the handles of the processes that hold it.
  case "$command" in */wineserver*) continue ;; esac
  echo "wine-run.sh: still running after $1 ended: pid $pid, $command" >&2
done
exit "$rc"
