#!/usr/bin/env bash
# What an administrator and a user see: the package installed into a fresh Wine prefix
# (build/demo-prefix), the KestraneHost service running, every command through the
# installed kestrane-cli, the log lines those calls left, an upgrade in place and an
# uninstall. Run from the repository after ./dev.sh package.
set -uo pipefail
VERSION=$(cat VERSION)
MSI="$PWD/build/kestrane-$VERSION-x64.msi"
UPGRADE=$(ls "$PWD"/build/windows/upgrade/kestrane-*-x64.msi | head -n 1)
export WINEPREFIX="$PWD/build/demo-prefix"
# The service logs where it would on Windows, %ProgramData%\Kestrane\kestrane.log.
unset KESTRANE_LOG
LOGS="$PWD/build/demo-logs"
DRIVE_C="$WINEPREFIX/drive_c"
CLI='C:\Program Files\Kestrane\kestrane-cli.exe'
RUN="$PWD/tools/wine-run.sh"
MSI_ATTEMPTS=5          # msiexec ended with 91 when a prefix had two service managers
UNSETTLED_PREFIX_EXIT=91
mkdir -p "$LOGS"

winpath() { echo "Z:${1//\//\\}"; }
section() { printf '\n=== %s\n' "$*"; }
say() { printf '%s\n' "$*"; }
# One command as typed at a Windows prompt, its output, and its exit code.
win() {
  printf '\nC:\\> %s\n' "$*"
  "$RUN" "$@" 2>&1 | tr -d '\r'
  say "(exit code ${PIPESTATUS[0]})"
}
user() {
  printf '\nC:\\Users\\demo> kestrane-cli %s\n' "$*"
  "$RUN" "$CLI" --client-id demo "$@" 2>&1 | tr -d '\r'
  say "(exit code ${PIPESTATUS[0]})"
}
msiexec() {  # /i|/x package log
  local code attempt start
  start=$(date +%s%3N)
  for attempt in $(seq 1 "$MSI_ATTEMPTS"); do
    "$RUN" msiexec "$1" "$(winpath "$2")" /qn /l*v "$(winpath "$3")"
    code=$?
    [ "$code" -ne "$UNSETTLED_PREFIX_EXIT" ] && break
    say "(msiexec ended with $code: again in 3 s)"
    sleep 3
  done
  local ms=$(($(date +%s%3N) - start))
  say "C:\\> msiexec $1 $(basename "$2") /qn /l*v $(basename "$3")   -> exit code $code, $((ms / 1000)).$((ms % 1000 / 100)) s"
  return "$code"
}
programs_and_features() {
  "$RUN" reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>/dev/null | tr -d '\r' |
    awk '/^HKEY/ { key = $0 } /DisplayName.*Kestrane/ { print key; show = key }
         show == key && /(DisplayName|DisplayVersion|Publisher)[[:space:]]/ { print }'
}

tools/wine-server.sh fresh >/dev/null
trap 'tools/wine-server.sh stop >/dev/null' EXIT

section "Administrator: install $(basename "$MSI") ($(stat -c %s "$MSI") bytes) on a machine that never had Kestrane"
msiexec /i "$MSI" "$LOGS/install.log" || { say "install failed: see $LOGS/install.log"; exit 1; }
win sc query KestraneHost
say "(its registration: automatic start (Start 2), LocalSystem, the program path quoted)"
win reg query 'HKLM\System\CurrentControlSet\Services\KestraneHost'
say
say "Programs and Features:"
programs_and_features
say
say "Files in C:\\Program Files\\Kestrane:"
ls -l "$DRIVE_C/Program Files/Kestrane"

section "User: every command through kestrane-cli (no endpoint named: the endpoint mapper finds the service)"
KEY='HKLM\SOFTWARE\QV\KestraneDemo'
user add "$KEY\\Settings"
user set "$KEY" Name REG_SZ Kestrane
user set "$KEY" Home REG_EXPAND_SZ '%SystemRoot%\Kestrane'
user set "$KEY" Blob REG_BINARY S2VzdHJhbmU=
user set "$KEY" Count REG_DWORD 42
user set "$KEY" Big REG_QWORD 9223372036854775807
user set "$KEY" Tags REG_MULTI_SZ '["read","write"]'
user query "$KEY" Home
user query "$KEY" Home --expand
user query "$KEY"
user subkeys "$KEY"
user exists "$KEY\\Settings"
user delete "$KEY" Count
user delete "$KEY\\Settings"
user delete "$KEY"
user exists "$KEY"
say
say "# HKCU is the caller's own hive: the value lands below HKEY_USERS\\<the user's SID>"
user set 'HKCU\SOFTWARE\QV\KestraneDemo' Greeting REG_SZ 'hello from the user'
SID=$("$RUN" reg query HKU 2>/dev/null | tr -d '\r' | grep -o 'S-1-5-21-[0-9-]*$' | head -n 1)
win reg query "HKU\\$SID\\SOFTWARE\\QV\\KestraneDemo"
say
say "# a write outside the write whitelist is refused:"
user set 'HKLM\SOFTWARE\Microsoft' Kestrane REG_DWORD 1

section "The log those calls left (C:\\ProgramData\\Kestrane\\kestrane.log: the install, the service, client \"demo\")"
LOG="$DRIVE_C/ProgramData/Kestrane/kestrane.log"
grep -E '\[demo\]|KestraneHost: (starting|listening|quoted)' "$LOG" | tail -n 25

section "Administrator: upgrade in place to $(basename "$UPGRADE") (the same binaries as a newer package)"
msiexec /i "$UPGRADE" "$LOGS/upgrade.log" || { say "upgrade failed: see $LOGS/upgrade.log"; exit 1; }
win sc query KestraneHost
say
say "Programs and Features (one entry):"
programs_and_features
user exists 'HKLM\SOFTWARE\QV'

section "Administrator: uninstall"
msiexec /x "$UPGRADE" "$LOGS/uninstall.log" || { say "uninstall failed: see $LOGS/uninstall.log"; exit 1; }
win sc query KestraneHost
win reg query 'HKLM\System\CurrentControlSet\Services\KestraneHost'
say
if [ -e "$DRIVE_C/Program Files/Kestrane" ]; then
  say "C:\\Program Files\\Kestrane is still there:"; ls -l "$DRIVE_C/Program Files/Kestrane"
else
  say "C:\\Program Files\\Kestrane is gone."
fi
say "Programs and Features entries for Kestrane: $(programs_and_features | grep -c DisplayName)"
say
say "What stays, on purpose: the log folder C:\\ProgramData\\Kestrane (the record of what clients"
say "asked for, an administrator's to keep or delete) and the secured machine keys with what"
say "clients wrote into them:"
ls -l "$DRIVE_C/ProgramData/Kestrane"
say
say "msiexec logs: $LOGS"
