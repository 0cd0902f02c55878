#!/bin/bash
# PanelCheck's handling of its input: exit code 2 with a message for a missing or short EDID
# file, the configuration file taking precedence, and the suggested configuration line.
#   check_panelcheck_input.sh <wine-run.sh> <PanelCheck.exe>
set -uo pipefail
run=${1:?} tool=${2:?}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
win() { echo "Z:${1//\//\\}"; }
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# A 128-byte EDID of panel E509/0A1B with 165 Hz and 60 Hz timings (totals 2080 x 1120).
edid() { # <extension count>
    python3 - "$1" <<'PY'
import sys
b = bytearray(128)
b[0:8] = bytes([0, 255, 255, 255, 255, 255, 255, 0])
b[8:12] = bytes([0x09, 0xE5, 0x1B, 0x0A])
def timing(d, clock):
    b[d:d+8] = bytes([clock & 255, clock >> 8, 0x80, 0xA0, 0x70, 0x38, 0x28, 0x40])
timing(54, 38438)
timing(72, 13978)
b[126] = int(sys.argv[1])
b[127] = (256 - sum(b[:127]) % 256) % 256
sys.stdout.buffer.write(b)
PY
}
edid 0 > "$work/panel.bin"
edid 1 > "$work/ext.bin"
head -c 127 "$work/panel.bin" > "$work/short.bin"

out=$("$run" "$tool" "$(win "$work/missing.bin")" 2>"$work/err"); rc=$?
[ $rc -eq 2 ] || fail "missing file: exit code $rc"
[ -s "$work/err" ] || fail "missing file: no message"
[ -z "$out" ] || fail "missing file: output on stdout"

"$run" "$tool" "$(win "$work/short.bin")" >/dev/null 2>"$work/err"; rc=$?
[ $rc -eq 2 ] || fail "short file: exit code $rc"
grep -q "127 bytes" "$work/err" || fail "short file: message $(cat "$work/err")"

expected="manufacturer: E509
product: 0A1B
extensions: 0
rate1: 165
rate2: 60
source: edid
high: 165
low: 60
dual-rate: yes
config-line: E509,0A1B,165,60"
out=$("$run" "$tool" "$(win "$work/panel.bin")" | tr -d '\r')
[ "$out" = "$expected" ] || fail "EDID report: $out"

out=$("$run" "$tool" "$(win "$work/ext.bin")" | tr -d '\r')
echo "$out" | grep -qx "source: none" || fail "extension source: $out"
echo "$out" | grep -qx "high: 0" || fail "extension high: $out"
echo "$out" | grep -qx "dual-rate: no" || fail "extension dual-rate: $out"
echo "$out" | grep -qx "config-line: E509,0A1B,165,60" || fail "extension config-line: $out"

printf 'AF06,519D,144,60\r\ne509 , 0xa1b , 62 , 60\r\n' > "$work/FRQ_Config.txt"
out=$("$run" "$tool" "$(win "$work/ext.bin")" "$(win "$work/FRQ_Config.txt")" | tr -d '\r')
echo "$out" | grep -qx "source: config" || fail "config source: $out"
echo "$out" | grep -qx "high: 60" || fail "config high: $out"
echo "$out" | grep -qx "low: 60" || fail "config low: $out"
echo "$out" | grep -qx "dual-rate: no" || fail "config dual-rate: $out"

"$run" "$tool" "$(win "$work/panel.bin")" "$(win "$work/none.txt")" >/dev/null 2>&1; rc=$?
[ $rc -eq 2 ] || fail "missing configuration file: exit code $rc"

echo "$failures failures"
[ $failures -eq 0 ]
