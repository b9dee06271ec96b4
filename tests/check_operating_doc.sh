#!/usr/bin/env bash
# Every name the library reads from outside must be in docs/operating.md, in
# backquotes: the keys of a program's settings file and of the machine store
# (a "Group/Key" literal, or a bare name under "Loglevel" given to the
# helpers of LogSettings that read them), the elements of setup.xml,
# and the environment variables. The names come from the sources themselves,
# so a key added there without a word in the document fails this test.
# Usage: check_operating_doc.sh [<source folder>]
set -euo pipefail
root=$(cd "${1:-$(dirname "$0")/..}" && pwd)
doc=$root/docs/operating.md
core=("$root"/Framework/Core/src/*.cpp)
all=("$root"/Framework/*/src/*.cpp)

names=$(
    grep -ohP '"\K[A-Za-z]+/[A-Za-z]+(?=")' "${core[@]}"
    grep -ohP '\b(getLogLevel|level|onOff|historyLimit|key)\((QStringLiteral\(|QLatin1String\()?"\K\w+(?=")' \
        "${core[@]}" | sed 's|^|Loglevel/|'
    grep -ohP '(settingText\(|\["Settings"\]\[)"\K\w+(?=")' "${core[@]}"
    grep -ohP '\b(qEnvironmentVariable|qEnvironmentVariableIsSet|environmentValue|getenv)\("\K[A-Z_]+(?=")' "${all[@]}"
)
names=$(sort -u <<< "$names")
count=$(wc -l <<< "$names")
# Fewer means that the patterns no longer see how the sources read them.
if (( count < 30 )); then
    echo "only $count names found in the sources; the patterns of $0 need a look:"
    echo "$names"
    exit 1
fi

missing=0
while read -r name; do
    if ! grep -qF "\`$name\`" "$doc"; then
        echo "not in docs/operating.md: $name"
        missing=$((missing + 1))
    fi
done <<< "$names"
if (( missing )); then
    echo "$missing of $count names are missing"
    exit 1
fi
echo "all $count names are in docs/operating.md"
