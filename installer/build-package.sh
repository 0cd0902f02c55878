#!/bin/bash
# Builds the product's Windows Installer package from four built programs.
#   build-package.sh [--sign <certificate.pfx> [--password-file <file>] [--timestamp <url>]]
#                    <version> <programs folder> <output.msi>
# The programs folder holds Lumivane.exe, Tessel.dll, Stagehand.exe and PanelCheck.exe; each must
# carry <version> in its version resource. With --sign, the programs and then the package get an
# Authenticode signature (SHA-256), with a time stamp when a server is named.
set -euo pipefail

usage() {
    sed -n '2,6s/^# \{0,1\}//p' "$0" >&2
    exit 2
}

certificate="" passwordFile="" timestampUrl=""
while [ $# -gt 0 ]; do
    case "$1" in
    --sign) certificate=${2:?--sign needs a .pfx file}; shift 2 ;;
    --password-file) passwordFile=${2:?--password-file needs a file}; shift 2 ;;
    --timestamp) timestampUrl=${2:?--timestamp needs a server address}; shift 2 ;;
    --*) usage ;;
    *) break ;;
    esac
done
[ $# -eq 3 ] || usage
version=$1 programs=$2 output=$3
here=$(cd "$(dirname "$0")" && pwd)
programNames=(Lumivane.exe Tessel.dll Stagehand.exe PanelCheck.exe)

# Windows Installer versions are major.minor.build with at most 255, 255 and 65535. The number is
# the same version as one integer, compared by the package's conditions; it must stay below 2^31.
if [[ ! $version =~ ^([0-9]+)\.([0-9]+)\.([0-9]+)$ ]] || [ "${BASH_REMATCH[1]}" -gt 127 ] ||
    [ "${BASH_REMATCH[2]}" -gt 255 ] || [ "${BASH_REMATCH[3]}" -gt 65535 ]; then
    echo "build-package.sh: version '$version' is not major.minor.build within 127.255.65535" >&2
    exit 1
fi
versionNumber=$((BASH_REMATCH[1] * 16777216 + BASH_REMATCH[2] * 65536 + BASH_REMATCH[3]))
fileVersion="$version.0"

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
for name in "${programNames[@]}"; do
    [ -f "$programs/$name" ] || { echo "build-package.sh: no $programs/$name" >&2; exit 1; }
    cp "$programs/$name" "$stage/$name"
    found=$(python3 "$here/file_version.py" "$stage/$name")
    if [ "$found" != "$fileVersion" ]; then
        echo "build-package.sh: $name has version $found, the package is $fileVersion" >&2
        exit 1
    fi
done

sign() {
    local file=$1
    local arguments=(sign -pkcs12 "$certificate" -h sha256 -n "Lumivane" -in "$file"
                     -out "$file.signed")
    [ -z "$passwordFile" ] || arguments+=(-readpass "$passwordFile")
    [ -z "$timestampUrl" ] || arguments+=(-ts "$timestampUrl")
    osslsigncode "${arguments[@]}" >"$stage/sign.log" 2>&1 ||
        { cat "$stage/sign.log" >&2; echo "build-package.sh: signing $file failed" >&2; exit 1; }
    mv -f "$file.signed" "$file"
}
if [ -n "$certificate" ]; then
    for name in "${programNames[@]}"; do
        sign "$stage/$name"
    done
fi

# wixl finds the sources beside the .wxs file.
cp "$here/Lumivane.wxs" "$stage/Lumivane.wxs"
(cd "$stage" && wixl --arch x86 -D "Version=$version" -D "VersionNumber=$versionNumber" \
    -o package.msi Lumivane.wxs)

# What wixl cannot say. Versions make the files versioned, so that a repair or upgrade replaces
# an older program and keeps an equal one (a versioned file carries no hash). The maker's folders
# are removed with the product when nothing else is in them. The rollbacks of the task
# registration and of the agents' stop run only when an install fails: wixl knows no rollback
# actions. FRQ_Config.txt's folder gets permissions of its own, not ProgramData's, which let any
# user create and write there: Administrators and the system account may change it, everyone
# else only read it, and nothing is inherited from above. And the same or an older
# build is refused before anything changes: Windows Installer would take it as a reinstall of
# this product.
# Owner Administrators; protected (nothing inherited); full control for the system account and
# Administrators, read and execute (0x1200a9) for Users, on the folder and all below it.
configFolderSddl='O:BAG:SYD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)'
queries=("DELETE FROM \`MsiFileHash\`")
for name in "${programNames[@]}"; do
    queries+=("UPDATE \`File\` SET \`Version\` = '$fileVersion' WHERE \`File\` = '$name'")
done
queries+=("INSERT INTO \`RemoveFile\` (\`FileKey\`, \`Component_\`, \`DirProperty\`, \`InstallMode\`) VALUES ('RemoveMakerDir', 'Agent', 'ZAVIKDIR', 2)")
# The configuration folder is listed too: the created folders go after RemoveFile's, too late
# for the maker's folder above it.
queries+=("INSERT INTO \`RemoveFile\` (\`FileKey\`, \`Component_\`, \`DirProperty\`, \`InstallMode\`) VALUES ('RemoveConfigDir', 'ConfigFolder', 'CONFIGDIR', 2)")
queries+=("INSERT INTO \`RemoveFile\` (\`FileKey\`, \`Component_\`, \`DirProperty\`, \`InstallMode\`) VALUES ('RemoveConfigMakerDir', 'ConfigFolder', 'CONFIGMAKERDIR', 2)")
queries+=("CREATE TABLE \`MsiLockPermissionsEx\` (\`MsiLockPermissionsEx\` CHAR(72) NOT NULL, \`LockObject\` CHAR(72) NOT NULL, \`Table\` CHAR(32) NOT NULL, \`SDDLText\` LONGCHAR NOT NULL, \`Condition\` CHAR(255) PRIMARY KEY \`MsiLockPermissionsEx\`)")
queries+=("INSERT INTO \`MsiLockPermissionsEx\` (\`MsiLockPermissionsEx\`, \`LockObject\`, \`Table\`, \`SDDLText\`) VALUES ('ConfigFolderPermissions', 'CONFIGDIR', 'CreateFolder', '$configFolderSddl')")
# 18 program from the File table + 64 result ignored + 256 rollback + 1024 in the script
# + 2048 with the installer's rights.
for action in RegisterLogonTaskRollback RestartAgentsRollback; do
    queries+=("UPDATE \`CustomAction\` SET \`Type\` = 3410 WHERE \`Action\` = '$action'")
done
refuse() {
    local action=$1 sequence=$2 condition=$3 message=$4
    queries+=("INSERT INTO \`CustomAction\` (\`Action\`, \`Type\`, \`Target\`) VALUES ('$action', 19, '$message')")
    queries+=("INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Condition\`, \`Sequence\`) VALUES ('$action', '$condition', $sequence)")
}
refuse RefuseInstalledAgain 60 'Installed AND NOT REINSTALL AND NOT REMOVE' \
    'Lumivane [INSTALLEDVERSION] is already installed and this package holds [ProductVersion]: nothing was changed. A newer build installs over it with REINSTALL=ALL REINSTALLMODE=vomus; msiexec /fa repairs it.'
refuse RefuseOlder 61 "REINSTALL AND INSTALLEDVERSIONNUMBER > $versionNumber" \
    'Lumivane [INSTALLEDVERSION] is installed, newer than this package [ProductVersion]: nothing was changed.'
arguments=()
for query in "${queries[@]}"; do
    arguments+=(-q "$query")
done
msibuild "$stage/package.msi" "${arguments[@]}"

if [ -n "$certificate" ]; then
    sign "$stage/package.msi"
fi
mkdir -p "$(dirname "$output")"
mv -f "$stage/package.msi" "$output"
