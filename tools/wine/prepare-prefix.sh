#!/bin/bash
# Prepares the private Wine prefix the tests run in: created once, headless (null graphics
# driver), with the folders a notebook of the maker already has. Idempotent and quick after
# the first run.
set -euo pipefail
prefix=${1:?usage: prepare-prefix.sh <prefix> [wine-loader]}
loader=${2:-wine}
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

if [ ! -f "$prefix/.lumivane-ready" ]; then
    mkdir -p "$prefix"
    wineboot -i >/dev/null 2>&1 || true
    "$loader" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
    wineserver -w
    touch "$prefix/.lumivane-ready"
fi
# Parents of the data folder and of the configuration file exist on every notebook of the maker.
mkdir -p "$prefix/drive_c/users/Public/Roaming/ZAVIK" "$prefix/drive_c/ProgramData/ZAVIK/Lumivane"
# One wine server and its system processes stay up for the whole test run, started here with
# their output detached: started by a test program instead, they would inherit CTest's
# output pipe and hold the test open. The cleanup fixture ends them (wineserver -k).
# A server of an earlier run may still be on its way out: try again until one answers. One
# that is up already for this prefix will do.
runs_in_prefix() {
    local pid
    for pid in $(pgrep -f "$1" 2>/dev/null); do
        if tr '\0' '\n' 2>/dev/null <"/proc/$pid/environ" | grep -qxF "WINEPREFIX=$prefix"; then
            return 0
        fi
    done
    return 1
}
for attempt in $(seq 1 40); do
    if runs_in_prefix 'wineserver' || wineserver -p >/dev/null 2>&1 </dev/null; then
        break
    fi
    sleep 0.25
done
"$loader" cmd /c exit >/dev/null 2>&1 </dev/null || true
# The desktop process starts with the first window of the session, takes the standard
# handles of whoever opened it and lives as long as some window does: started by a test, it
# would hold that test's output pipe open. So one idle window, opened here with its output
# detached, keeps a detached desktop up until the cleanup fixture ends the server.
if ! runs_in_prefix 'notepad.exe'; then
    setsid nohup "$loader" notepad.exe >/dev/null 2>&1 </dev/null &
    for attempt in $(seq 1 100); do
        runs_in_prefix 'explorer.exe /desktop' && break
        sleep 0.1
    done
fi
