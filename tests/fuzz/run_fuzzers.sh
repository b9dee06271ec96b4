#!/usr/bin/env bash
# Runs every fuzz target for a while from its seed corpus.
# Usage: run_fuzzers.sh <folder of the fuzz programs> [seconds per target]
# An input that fails is kept in ./fuzz-artifacts.
set -euo pipefail
bin=$(cd "$1" && pwd)
seconds=${2:-30}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
artifacts=$PWD/fuzz-artifacts
mkdir -p "$artifacts"
trap 'rm -rf "$work"' EXIT
failed=0
for corpus in "$here"/corpus/*/; do
    name=$(basename "$corpus")
    # New inputs go to a scratch copy: the corpus in the tree stays as it is.
    mkdir -p "$work/$name"
    cp -r "$corpus". "$work/$name/"
    echo "== $name: ${seconds}s"
    if ! (cd "$work" && "$bin/$name" -max_total_time="$seconds" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
            -print_final_stats=1 -artifact_prefix="$artifacts/$name-" "$work/$name" > "$work/$name.log" 2>&1); then
        tail -n 60 "$work/$name.log"
        failed=1
    else
        grep -E "^stat::number_of_executed_units|^Done" "$work/$name.log" || true
    fi
done
exit $failed
