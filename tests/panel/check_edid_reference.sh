#!/bin/bash
# Runs PanelCheck on every EDID of the reference set and compares its report with
# manifest.csv: words, extension count, both raw descriptor rates, source and final rates.
#   check_edid_reference.sh <wine-run.sh> <PanelCheck.exe> <folder with manifest.csv>
set -uo pipefail
run=${1:?} tool=${2:?} folder=${3:?}
winfolder="Z:${folder//\//\\}"
if [ ! -f "$folder/manifest.csv" ]; then
    echo "The reference EDIDs are missing: no $folder/manifest.csv" \
        "(configure with -DLUMIVANE_EDID_TESTDATA=<folder with manifest.csv>)." >&2
    exit 1
fi
failures=0
checked=0
while IFS=, read -r file manufacturer product extensions rate1 rate2 high low _; do
    [ "$file" = "file" ] && continue
    report=$("$run" "$tool" "$winfolder\\$file" 2>&1 | tr -d '\r')
    # A run that printed nothing at all is run once more: Wine has been seen to lose a
    # process start under load, and PanelCheck always prints its report.
    if [ -z "$report" ]; then
        report=$("$run" "$tool" "$winfolder\\$file" 2>&1 | tr -d '\r')
    fi
    source=edid
    [ "$extensions" != "0" ] && source=none
    expected="manufacturer: $manufacturer
product: $product
extensions: $extensions
rate1: $rate1
rate2: $rate2
source: $source
high: $high
low: $low"
    actual=$(printf '%s\n' "$report" | head -n 8)
    if [ "$actual" != "$expected" ]; then
        echo "MISMATCH $file"
        diff <(printf '%s\n' "$expected") <(printf '%s\n' "$actual")
        failures=$((failures + 1))
    fi
    checked=$((checked + 1))
done < "$folder/manifest.csv"
echo "$checked EDIDs checked, $failures mismatches"
[ "$checked" -gt 0 ] && [ "$failures" -eq 0 ]
