#!/bin/bash
# Prepares the installer tests' own Wine prefix as a notebook: created once, with the BIOS
# driver double and the Task Scheduler double, and writes the runner that starts a program in
# it. Idempotent.
#   prepare-msi-prefix.sh <source> <prefix> <runner> <wine-loader> <driver.sys> <taskdouble.dll>
set -euo pipefail
source=${1:?} prefix=${2:?} runner=${3:?} loader=${4:?} driver=${5:?} double=${6:?}
source "$source/scripts/lib.sh"
lumivane_prefix_runner "$prefix" "$runner" "$loader"
"$source/tools/wine/prepare-prefix.sh" "$prefix" "$loader"
bash "$source/tools/simbios/install-simbios.sh" "$prefix" "$driver" "$loader" >/dev/null
sh "$source/tools/taskdouble/register-double.sh" "$runner" "$double"
