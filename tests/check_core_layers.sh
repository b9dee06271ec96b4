#!/usr/bin/env bash
# Only the application's own files, its subclasses and the umbrella header
# include the application's headers; the rest of Framework/Core reaches it
# through HostProvider_p.h and ApplicationExit_p.h.
# Usage: check_core_layers.sh [<source folder>]
set -euo pipefail
root=$(cd "${1:-$(dirname "$0")/..}" && pwd)
upward=$(grep -lE '#include [<"](Kor/)?(Basic)?Application(_p)?\.h[>"]' "$root"/Framework/Core/src/*.{cpp,h} |
    grep -vE '/(Application[A-Za-z]*|BasicApplication)\.(cpp|h)$|/KorCore\.h$' || true)
if [ -n "$upward" ]; then
    echo "These files include the application's headers:"
    echo "$upward"
    exit 1
fi
echo "No include runs up to the application."
