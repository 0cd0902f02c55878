#!/bin/bash
# Fails when a tracked file names the folder that once lay beside the repository: a clone has
# nothing beside it, so every file the build, the scripts and the tests read must be inside.
#   check_self_contained.sh <repository root>
set -uo pipefail
root=${1:?}
# Spelt with escaped dots so that this script does not find itself.
pattern='\.\./shared'
if git -C "$root" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    hits=$(git -C "$root" grep -n -I -E "$pattern" -- . 2>/dev/null)
else
    hits=$(grep -r -n -I -E "$pattern" --exclude-dir='build*' --exclude-dir=.git "$root" 2>/dev/null)
fi
if [ -n "$hits" ]; then
    echo "These files refer to a folder outside the repository; keep what they need inside it:"
    printf '%s\n' "$hits"
    exit 1
fi
echo "no tracked file refers to a folder outside the repository"
