#!/bin/bash
# The package's tables as msiinfo reads them: which program actions run, when, and with whose
# rights. The agent itself is never started by a program running as the system account: the
# deferred first start only asks the Task Scheduler to run the logon task in the installing
# user's sessions, and the fallback is an immediate action (not in the installation script,
# which runs with the installer's rights), sequenced after the installation is finalised and
# skipped for the system account.
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
# Only the first install: a repair's or an upgrade's agents are started again by RestartAgents,
# and a second start in a session would give it two agents.
grep -q '^NOT Installed AND ' <<<"$condition" || fail "StartAgent runs on a repair: $condition"

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
expect_action RestartAgents $((setup + ignoreResult + inScript + noImpersonate)) '/Restart'
expect_action RestartAgentsRollback \
    $((setup + ignoreResult + rollback + inScript + noImpersonate)) '/Restart'
# The first start through the logon task, by the system account, which may run the task (the
# default task security lets Administrators with an enabled membership and the task's creator
# run it, which an administrator's filtered token is not: michlstechblog.info, "Windows: Permit a
# limited user to run a schedule task defined by an Administrator"). Windows Installer writes the
# command line into the installation script with [UserSID] formatted ("Obtaining Context
# Information for Deferred Execution Custom Actions": a deferred action sees only what the
# script holds, and UserSID). Right after the task registration, on a first install by a user
# only; a first install that fails later is rolled back by RegisterLogonTaskRollback, sequenced
# before it under a condition that covers it, whose "/Uninstall" ends every agent.
expect_action StartAgentForUser $((setup + ignoreResult + inScript + noImpersonate)) \
    '/Commit /User [UserSID]'
userStart=$(field "$sequence" StartAgentForUser 3)
register=$(field "$sequence" RegisterLogonTask 3)
(( userStart > register && userStart < finalize )) ||
    fail "StartAgentForUser at $userStart, not between RegisterLogonTask and InstallFinalize"
[ "$(field "$sequence" StartAgentForUser 2)" = 'NOT Installed AND UserSID<>"S-1-5-18"' ] ||
    fail "StartAgentForUser condition: $(field "$sequence" StartAgentForUser 2)"
between=$(awk -F'\t' -v low="$register" -v high="$userStart" \
    '$3 > low && $3 < high && $2 !~ /^Installed AND / { print $1 }' <<<"$sequence")
[ -z "$between" ] || fail "a first install runs $between between the task and its first start"
(( $(field "$sequence" RegisterLogonTaskRollback 3) < register )) ||
    fail "RegisterLogonTaskRollback after RegisterLogonTask"
[ "$(field "$sequence" RegisterLogonTaskRollback 2)" = "NOT Installed" ] ||
    fail "RegisterLogonTaskRollback condition: $(field "$sequence" RegisterLogonTaskRollback 2)"

installFiles=$(field "$sequence" InstallFiles 3)
removeFiles=$(field "$sequence" RemoveFiles 3)
(( $(field "$sequence" RegisterLogonTask 3) > installFiles )) || fail "task before the files"
(( $(field "$sequence" UnregisterAgent 3) < removeFiles )) || fail "removal after the files"
(( $(field "$sequence" StopAgent 3) < installFiles )) || fail "agent stopped after the files"
# The agents start again after the new files and the task are in place, and a rollback (which
# runs backwards) starts them after the old files are back.
(( $(field "$sequence" RestartAgents 3) > $(field "$sequence" RegisterLogonTask 3) &&
    $(field "$sequence" RestartAgents 3) < $(field "$sequence" InstallFinalize 3) )) ||
    fail "RestartAgents at $(field "$sequence" RestartAgents 3)"
(( $(field "$sequence" RestartAgentsRollback 3) < $(field "$sequence" StopAgent 3) )) ||
    fail "RestartAgentsRollback after StopAgent"
for action in RestartAgents RestartAgentsRollback; do
    [ "$(field "$sequence" $action 2)" = "$(field "$sequence" StopAgent 2)" ] ||
        fail "$action runs under another condition than StopAgent"
done

# Nothing the installation script runs with the installer's rights may open a window: every
# program a deferred or rollback action runs is a windows-subsystem program (PE optional header
# Subsystem 2; 3 is the console).
extracted=$(mktemp -d)
trap 'rm -rf "$extracted"' EXIT
msiextract -C "$extracted" "$package" >/dev/null || fail "cannot extract the package"
files=$(table File)
checked=""
while IFS=$'\t' read -r action type source target; do
    (( (type & inScript) != 0 && (type & 0x3F) == setup )) || continue
    checked+=" $action"
    name=$(field "$files" "$source" 3)
    name=${name#*|}
    program=$(find "$extracted" -type f -name "$name" | head -n 1)
    [ -n "$program" ] || { fail "$action: no $name in the package"; continue; }
    subsystem=$(python3 -c 'import struct, sys
data = open(sys.argv[1], "rb").read()
pe = struct.unpack_from("<I", data, 0x3C)[0]
print(struct.unpack_from("<H", data, pe + 4 + 20 + 68)[0])' "$program")
    [ "$subsystem" = 2 ] || fail "$action runs $name, subsystem $subsystem: a console window"
done <<<"$actions"
for action in RegisterLogonTask RegisterLogonTaskRollback UnregisterAgent StopAgent RestartAgents \
    RestartAgentsRollback StartAgentForUser; do
    [[ " $checked " == *" $action "* ]] || fail "$action's program was not checked for its subsystem"
done

# FRQ_Config.txt's folder: made by the package, removed with it when empty (with the maker's
# folder above it), and locked: owned by Administrators, nothing inherited from ProgramData
# (where every user may create and write), and no right to change it for anyone but the system
# account and Administrators.
[ "$(table Directory | awk -F'\t' '$1 == "CONFIGDIR" { print $2 "/" $3 }')" = "CONFIGMAKERDIR/Lumivane" ] ||
    fail "no configuration folder"
[ "$(table Directory | awk -F'\t' '$1 == "CONFIGMAKERDIR" { print $2 "/" $3 }')" = "CommonAppDataFolder/ZAVIK" ] ||
    fail "the configuration folder is not in ProgramData\\ZAVIK"
table CreateFolder | grep -q "^CONFIGDIR"$'\t' || fail "the configuration folder is not created"
[ "$(table RemoveFile | awk -F'\t' '$4 == "CONFIGMAKERDIR" { print $5 }')" = 2 ] ||
    fail "ProgramData\\ZAVIK is not removed with the product"
! table LockPermissions 2>/dev/null | grep -q . || fail "both LockPermissions and MsiLockPermissionsEx"
sddl=$(table MsiLockPermissionsEx | awk -F'\t' '$2 == "CONFIGDIR" && $3 == "CreateFolder" { print $4 }')
[ -n "$sddl" ] || fail "the configuration folder has no permissions of its own"
[[ $sddl == O:BA* ]] || fail "the configuration folder is not owned by Administrators: $sddl"
[[ $sddl == *D:P* ]] || fail "the configuration folder inherits ProgramData's permissions: $sddl"
for ace in $(grep -o '([^)]*)' <<<"$sddl"); do
    IFS=';' read -r kind flags rights _ _ sid <<<"${ace//[()]/}"
    [ "$kind" = A ] || continue
    case "$sid" in SY | BA) continue ;; esac
    case "$rights" in FR | FX | FRFX | 0x1200a9 | 0x120089) ;;
    *) fail "the configuration folder gives $sid the rights $rights" ;; esac
done

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
