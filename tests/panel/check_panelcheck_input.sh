#!/bin/bash
# PanelCheck's handling of its input: exit code 2 with a message for a missing or short EDID
# file or a usage error, the configuration file taking precedence, the suggested configuration
# line, rates out of range; and without an EDID, its report on Wine's own machine, which lists
# no display in WMI.
#   check_panelcheck_input.sh <wine-run.sh> <PanelCheck.exe>
set -uo pipefail
run=${1:?} tool=${2:?}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
win() { echo "Z:${1//\//\\}"; }
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# A 128-byte EDID of panel E509/0A1B with 165 Hz and 60 Hz timings (totals 2080 x 1120), or
# with a first timing of 4462 Hz (totals 100 x 100).
edid() { # <extension count> [absurd]
    python3 - "$1" "${2:-}" <<'PY'
import sys
b = bytearray(128)
b[0:8] = bytes([0, 255, 255, 255, 255, 255, 255, 0])
b[8:12] = bytes([0x09, 0xE5, 0x1B, 0x0A])
def timing(d, clock):
    b[d:d+8] = bytes([clock & 255, clock >> 8, 0x80, 0xA0, 0x70, 0x38, 0x28, 0x40])
timing(54, 38438)
if sys.argv[2]:
    b[54:62] = bytes([4462 & 255, 4462 >> 8, 100, 0, 0, 100, 0, 0])
timing(72, 13978)
b[126] = int(sys.argv[1])
b[127] = (256 - sum(b[:127]) % 256) % 256
sys.stdout.buffer.write(b)
PY
}
edid 0 > "$work/panel.bin"
edid 1 > "$work/ext.bin"
edid 0 absurd > "$work/absurd.bin"
head -c 127 "$work/panel.bin" > "$work/short.bin"

for arguments in "--bogus" "--json $(win "$work/panel.bin")" "a b c"; do
    # shellcheck disable=SC2086
    "$run" "$tool" $arguments >/dev/null 2>"$work/err"; rc=$?
    [ $rc -eq 2 ] || fail "usage error '$arguments': exit code $rc"
    grep -q "usage" "$work/err" || fail "usage error '$arguments': message $(cat "$work/err")"
done

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

# A timing of 4462 Hz, or a configured rate of -144 Hz, is no rate: no rates, no switching.
out=$("$run" "$tool" "$(win "$work/absurd.bin")" | tr -d '\r')
echo "$out" | grep -qx "rate1: 4462" || fail "absurd rate1: $out"
echo "$out" | grep -qx "high: 0" || fail "absurd high: $out"
echo "$out" | grep -qx "reason: rate out of range (4462 Hz)" || fail "absurd reason: $out"
echo "$out" | grep -q "config-line" && fail "absurd config-line: $out"
printf 'e509,0a1b,-144,60\r\n' > "$work/negative.txt"
out=$("$run" "$tool" "$(win "$work/panel.bin")" "$(win "$work/negative.txt")" | tr -d '\r')
echo "$out" | grep -qx "low: 0" || fail "negative low: $out"
echo "$out" | grep -qx "reason: rate out of range (-144 Hz)" || fail "negative reason: $out"

printf 'AF06,519D,144,60\r\ne509 , 0xa1b , 62 , 60\r\n' > "$work/FRQ_Config.txt"
out=$("$run" "$tool" "$(win "$work/ext.bin")" "$(win "$work/FRQ_Config.txt")" | tr -d '\r')
echo "$out" | grep -qx "source: config" || fail "config source: $out"
echo "$out" | grep -qx "high: 60" || fail "config high: $out"
echo "$out" | grep -qx "low: 60" || fail "config low: $out"
echo "$out" | grep -qx "dual-rate: no" || fail "config dual-rate: $out"

"$run" "$tool" "$(win "$work/panel.bin")" "$(win "$work/none.txt")" >/dev/null 2>&1; rc=$?
[ $rc -eq 2 ] || fail "missing configuration file: exit code $rc"

# Wine's own machine: no WMI rows, so neither verdict is positive, and the report says why.
out=$("$run" "$tool" | tr -d '\r'); rc=$?
[ $rc -eq 1 ] || fail "machine: exit code $rc"
for section in Panel BIOS "Power and display" "Product settings" Agent Verdict; do
    echo "$out" | grep -qx "$section" || fail "machine: no section $section"
done
echo "$out" | grep -qx "  overdrive: no internal panel listed by WMI" || fail "machine overdrive: $out"
echo "$out" | grep -qx "  refresh-switching: no internal panel listed by WMI" ||
    fail "machine refresh switching: $out"
"$run" "$tool" --json | tr -d '\r' > "$work/report.json"
python3 - "$work/report.json" <<'PY' || fail "machine JSON: $(cat "$work/report.json")"
import json, sys
report = json.load(open(sys.argv[1]))
verdict = report["verdict"]
assert verdict["overdrive"] == "no internal panel listed by WMI", verdict
assert verdict["overdrive-positive"] is False, verdict
assert verdict["refresh-switching-positive"] is False, verdict
assert verdict["agent-positive"] is False, verdict
assert report["panel"]["wmi-rows"] == [], report["panel"]
assert set(report) == {"panel", "bios", "power-and-display", "product-settings", "agent",
                       "verdict"}, list(report)
PY

echo "$failures failures"
[ $failures -eq 0 ]
