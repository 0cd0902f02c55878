#!/bin/bash
# The package's tables as msiinfo reads them: which program actions run, when, and with whose
# rights. The start of the agent must never run as the system account: it is an immediate
# action (not in the installation script, which runs with the installer's rights), sequenced
# after the installation is finalised and skipped for the system account.
#   check_package_tables.sh <package.msi>
set -uo pipefail
package=${1:?usage: check_package_tables.sh <package.msi>}
[ -f "$package" ] || { echo "FAIL: no package $package"; exit 1; }
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
table() { msiinfo export "$package" "$1" | tr -d '\r' | tail -n +4; }

# Action, then the fields of its row in each table.
actions=$(table CustomAction)
sequence=$(table InstallExecuteSequence)
field() { # <rows> <action> <column number>
    awk -F'\t' -v action="$2" -v column="$3" '$1 == action { print $column }' <<<"$1"
}
# Custom action type bits.
inScript=1024 rollback=256 noImpersonate=2048 ignoreResult=64

type=$(field "$actions" StartAgent 2)
[ "$(field "$actions" StartAgent 4)" = "/Commit" ] || fail "StartAgent: $(field "$actions" StartAgent 4)"
[ -n "$type" ] || fail "no StartAgent action"
(( (type & inScript) == 0 )) || fail "StartAgent runs in the installation script (type $type)"
(( (type & noImpersonate) == 0 )) || fail "StartAgent asks for the system account (type $type)"
finalize=$(field "$sequence" InstallFinalize 3)
start=$(field "$sequence" StartAgent 3)
(( start > finalize )) || fail "StartAgent ($start) before InstallFinalize ($finalize)"
condition=$(field "$sequence" StartAgent 2)
grep -q 'UserSID<>"S-1-5-18"' <<<"$condition" || fail "StartAgent condition: $condition"

# The task registration: deferred with the installer's rights, its failure rolls back; its
# rollback and the removal run the setup tool with the folder quoted so that the trailing
# backslash does not escape the quote.
expect_action() { # <action> <type> <target>
    [ "$(field "$actions" "$1" 2)" = "$2" ] || fail "$1 type $(field "$actions" "$1" 2), not $2"
    [ "$(field "$actions" "$1" 4)" = "$3" ] || fail "$1 target $(field "$actions" "$1" 4)"
}
setup=18
expect_action RegisterLogonTask $((setup + inScript + noImpersonate)) '/Install "[INSTALLDIR]\"'
expect_action RegisterLogonTaskRollback \
    $((setup + ignoreResult + rollback + inScript + noImpersonate)) '/Uninstall "[INSTALLDIR]\"'
expect_action UnregisterAgent $((setup + ignoreResult + inScript + noImpersonate)) \
    '/Uninstall "[INSTALLDIR]\"'
expect_action StopAgent $((setup + ignoreResult + inScript + noImpersonate)) '/Stop'
installFiles=$(field "$sequence" InstallFiles 3)
removeFiles=$(field "$sequence" RemoveFiles 3)
(( $(field "$sequence" RegisterLogonTask 3) > installFiles )) || fail "task before the files"
(( $(field "$sequence" UnregisterAgent 3) < removeFiles )) || fail "removal after the files"
(( $(field "$sequence" StopAgent 3) < installFiles )) || fail "agent stopped after the files"

# Every program is versioned, all with the package's version.
version=$(table Property | awk -F'\t' '$1 == "ProductVersion" { print $2 }')
for file in Lumivane.exe Tessel.dll Stagehand.exe PanelCheck.exe; do
    [ "$(field "$(table File)" "$file" 5)" = "$version.0" ] || fail "$file version"
done
[ "$(table Property | awk -F'\t' '$1 == "ProductCode" { print $2 }')" = \
    "{3C5E9A21-7B44-4D0E-8F16-B2A9D0C4E7F3}" ] || fail "product code"
msiinfo suminfo "$package" | grep -q "^Template: Intel;" || fail "not a 32-bit package"

echo "$failures failures"
[ $failures -eq 0 ]
