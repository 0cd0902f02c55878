#!/bin/bash
# simnotebook.exe changes the simulated notebook that another process reads.
#   check_simnotebook_tool.sh <wine-run.sh> <simnotebook.exe>
set -uo pipefail
run=${1:?} tool=${2:?}
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
sim() { "$run" "$tool" "$@" | tr -d '\r'; }

sim reset || fail "reset"
out=$(sim show)
echo "$out" | grep -q "ACLineStatus=1 " || fail "default power: $out"
echo "$out" | grep -q "current=1920x1080x32@144" || fail "default mode: $out"
echo "$out" | grep -q 'DISPLAY\\AUO519D\\5&1a2b3c4d&0&UID4352_0 0x80000000' || fail "wmi: $out"

sim power 0 && sim monitors 2 && sim current 0 1920x1080x32@60 && sim modetakes 0 0 &&
    sim wmi 'DISPLAY\EXT0001\1&1_0:10' 'DISPLAY\ABC1234\x_0:0xB' 'DISPLAY\NUL0001\y_0:null' &&
    sim monitorpower 0 && sim console-session 7 || fail "setters"
out=$(sim show)
echo "$out" | grep -q "ACLineStatus=0 " || fail "power 0: $out"
echo "$out" | grep -q 'adapter 1: \\\\.\\DISPLAY2' || fail "monitors 2: $out"
echo "$out" | grep -q "takes=0 current=1920x1080x32@60" || fail "current: $out"
echo "$out" | grep -q 'ABC1234\\x_0 0x0000000B' || fail "wmi rows: $out"
echo "$out" | grep -q 'NUL0001\\y_0 (type 1)' || fail "wmi row without a value: $out"
echo "$out" | grep -q 'power settings: lid=1 monitor=0' || fail "monitor power: $out"
echo "$out" | grep -q 'power during next mode change: off' || fail "disarmed by default: $out"

sim power-during-next-mode-change 255 || fail "arm"
out=$(sim show)
echo "$out" | grep -q 'power during next mode change: 255' || fail "armed: $out"
sim power-during-next-mode-change off || fail "disarm"
out=$(sim show)
echo "$out" | grep -q 'power during next mode change: off' || fail "disarmed: $out"
sim power-during-next-mode-change 256 >/dev/null 2>&1 && fail "line status 256 accepted"
echo "$out" | grep -q 'console session: 7' || fail "console session: $out"
sim console-session self || fail "console session self"
sim show | tr -d '\r' | grep -q 'console session: self' || fail "console session back to self"

sim panel-adapter 1 || fail "panel-adapter"
out=$(sim show)
echo "$out" | grep -q 'adapter 0: \\\\.\\DISPLAY1 state=5 takes=1 current=2560x1440x32@75' ||
    fail "external monitor on adapter 0: $out"
echo "$out" | grep -q 'monitor 0: \\\\.\\DISPLAY2\\Monitor0 MONITOR\\AUO519D\\.* state=3' ||
    fail "panel on adapter 1: $out"

# Another session's agent writes the shared files (a standard user's: 0 and 2).
folder='C:\Users\Public\Roaming\ZAVIK\Lumivane'
"$run" cmd /c mkdir "$folder" >/dev/null 2>&1
sim other-agent 0 2 || fail "other-agent"
hwid=$("$run" cmd /c type "$folder\HWID_Result.txt" | tr -d '\r')
icon=$("$run" cmd /c type "$folder\Icon.txt" | tr -d '\r')
[ "$hwid" = 0 ] && [ "$icon" = 2 ] || fail "other-agent wrote HWID_Result.txt '$hwid', Icon.txt '$icon'"
sim other-agent 0 >/dev/null 2>&1 && fail "other-agent without the icon accepted"

sim power 7x >/dev/null 2>&1 && fail "bad argument accepted"
sim console-session me >/dev/null 2>&1 && fail "bad console session accepted"
sim bogus >/dev/null 2>&1 && fail "unknown command accepted"

sim reset
echo "$failures failures"
[ $failures -eq 0 ]
