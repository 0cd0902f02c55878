#!/bin/sh
# Points the Task Scheduler's class identifier of the test prefix at the double, or back at the
# platform's own server. Wine's server answers E_NOTIMPL for logon triggers, idle settings and
# logon types, so the setup tool's tests run against the double instead. Only the test prefix
# is touched; its wine server is already up (started by the prefix fixture), and every wine
# command's output is detached so that no process holds CTest's pipe.
#   register-double.sh <wine-run.sh> <taskdouble.dll>   register the double, forget its record
#   register-double.sh <wine-run.sh> --restore          give the class back to the platform
set -eu
run=${1:?usage: register-double.sh <wine-run.sh> <taskdouble.dll>|--restore}
target=${2:?usage: register-double.sh <wine-run.sh> <taskdouble.dll>|--restore}
key='HKLM\Software\Classes\CLSID\{0F87369F-A4E5-4CFC-BD3E-73E6154572DD}\InprocServer32'

if [ "$target" = "--restore" ]; then
    server='C:\windows\system32\taskschd.dll'
else
    # The prefix sees the host's root as drive Z:.
    server="Z:$(printf '%s' "$target" | sed 's|/|\\|g')"
fi
"$run" reg add "$key" /ve /d "$server" /f >/dev/null 2>&1 </dev/null
"$run" reg add "$key" /v ThreadingModel /d Both /f >/dev/null 2>&1 </dev/null
"$run" reg delete 'HKLM\SOFTWARE\LumivaneTaskDouble' /f >/dev/null 2>&1 </dev/null || true
# Read the registration back: a test against the platform's server would fail in confusing ways.
"$run" reg query "$key" /ve 2>/dev/null </dev/null | tr -d '\r' | grep -qF "$server"
