#!/usr/bin/env bash
# Every settings and machine-store key, setup.xml element and environment
# variable that the sources read is named, in backquotes, in docs/operating.md.
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

missing=$(comm -23 <(echo "$names") <(grep -o '`[^`]*`' "$doc" | tr -d '`' | sort -u))
if [ -n "$missing" ]; then
    sed 's|^|not in docs/operating.md: |' <<< "$missing"
    echo "$(wc -l <<< "$missing") of $count names are missing"
    exit 1
fi
echo "all $count names are in docs/operating.md"
