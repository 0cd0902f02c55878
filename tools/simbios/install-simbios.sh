#!/bin/bash
# Installs the simulated BIOS driver into a Wine prefix as the kernel service ZvkAcpiSim and
# starts it, so that "\\.\ZVKACPI" opens. Idempotent: a running copy is stopped, the driver
# file replaced, the service registered once and started again.
#   install-simbios.sh <prefix> <sys-file> [wine-loader]
#
# Every wine command's output goes to /dev/null or a file: the driver host it starts lives
# on after this script and would otherwise hold the caller's output pipe open.
set -euo pipefail
prefix=${1:?usage: install-simbios.sh <prefix> <sys-file> [wine-loader]}
sysFile=${2:?usage: install-simbios.sh <prefix> <sys-file> [wine-loader]}
loader=${3:-wine}
service=ZvkAcpiSim
driverName=zvkacpisim.sys

export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
driversDir="$prefix/drive_c/windows/system32/drivers"
[ -d "$driversDir" ] || { echo "no Wine prefix at $prefix" >&2; exit 1; }
[ -f "$sysFile" ] || { echo "no driver file $sysFile" >&2; exit 1; }

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

wine_quiet() { "$loader" "$@" >/dev/null 2>&1 </dev/null; }
service_state() {
    "$loader" sc query "$service" >"$scratch/query" 2>/dev/null </dev/null || true
    sed -n 's/.*STATE *: *[0-9]* *\([A-Z_]*\).*/\1/p' "$scratch/query"
}

# The server and the system processes come up detached from our output.
wineserver -p >/dev/null 2>&1 </dev/null || true
wine_quiet cmd /c exit || true

if "$loader" sc query "$service" >/dev/null 2>&1 </dev/null; then
    wine_quiet sc stop "$service" || true
    for _ in $(seq 1 100); do
        [ "$(service_state)" = STOPPED ] && break
        sleep 0.1
    done
else
    wine_quiet sc create "$service" type= kernel start= demand \
        binpath= "C:\\windows\\system32\\drivers\\$driverName"
fi

# A new file rather than an overwrite: a driver host still mapping the old one keeps it intact.
cp "$sysFile" "$driversDir/.$driverName.new"
mv -f "$driversDir/.$driverName.new" "$driversDir/$driverName"

wine_quiet sc start "$service" || true
for _ in $(seq 1 100); do
    [ "$(service_state)" = RUNNING ] && exit 0
    sleep 0.1
done
echo "service $service did not start; state: $(service_state)" >&2
exit 1
