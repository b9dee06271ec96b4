#!/bin/sh
# Start cost of the example host against a bare Qt program that prints one
# line: "Kor.Example --version" and bare_qt, each run many times by
# hyperfine. Usage: bench/startup.sh [BUILD_DIR] (default: build-bench), a
# build configured with -DKOR_BUILD_BENCH=ON.
build=${1:-build-bench}
if ! command -v hyperfine >/dev/null 2>&1; then
    echo "startup.sh: hyperfine is not installed; nothing measured"
    exit 0
fi
example="$build/bin/Kor.Example"
bare="$build/bin/bare_qt"
for program in "$example" "$bare"; do
    if [ ! -x "$program" ]; then
        echo "startup.sh: $program is missing; build with -DKOR_BUILD_BENCH=ON first" >&2
        exit 1
    fi
done
# The sample machine of the build tree, so that the example finds its
# machine store without touching /etc.
KOR_REGISTRY_ROOT=${KOR_REGISTRY_ROOT:-$build/sample/registry}
export KOR_REGISTRY_ROOT
json=$(mktemp)
trap 'rm -f "$json"' EXIT
hyperfine -N --warmup 20 --min-runs 300 --export-json "$json" "$example --version" "$bare" || exit 1
# Medians are steadier than means on a shared machine.
python3 - "$json" <<'PY' 2>/dev/null || echo "startup.sh: python3 missing; see the means above"
import json, sys
results = json.load(open(sys.argv[1]))["results"]
example, bare = (r["median"] * 1000 for r in results)
print(f"median: example {example:.2f} ms, bare {bare:.2f} ms, ratio {example / bare:.2f}")
PY
# Instructions executed in user space, loader included: steadier than time on
# a shared machine, though blind to the kernel's share.
if command -v valgrind >/dev/null 2>&1; then
    instructions() {
        valgrind --tool=callgrind --callgrind-out-file=/dev/null "$@" 2>&1 >/dev/null | sed -n 's/.*Collected : //p'
    }
    example_ir=$(instructions "$example" --version)
    bare_ir=$(instructions "$bare")
    echo "instructions: example $example_ir, bare $bare_ir" \
        "ratio $(awk -v e="$example_ir" -v b="$bare_ir" 'BEGIN { printf "%.2f", e / b }')"
fi
