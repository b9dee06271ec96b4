#!/bin/bash
# Size of the tests against the library, and with --coverage the line
# coverage of Framework/ by the test suite.
#   KOR_COV_BUILD  build folder for --coverage (default: <repo>/build-cov)
#   KOR_JOBS       parallel build jobs (default: 2)
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# Non-blank lines that are not only a // comment.
count_lines() {
    find "$@" \( -name '*.cpp' -o -name '*.h' -o -name CMakeLists.txt -o -name '*.sh' \) -type f -print0 |
        xargs -0 cat | grep -cvE '^[[:space:]]*(//.*)?$'
}

lib=$(count_lines "$root/Framework")
tst=$(count_lines "$root/tests" -path "$root/tests/fuzz/corpus" -prune -o)
echo "library lines: $lib"
echo "test lines:    $tst"
echo "ratio:         $(awk -v t="$tst" -v l="$lib" 'BEGIN { printf "%.3f", t / l }')"

[[ ${1:-} == --coverage ]] || exit 0
build=${KOR_COV_BUILD:-$root/build-cov}
jobs=${KOR_JOBS:-2}
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS=--coverage \
    -DKOR_BUILD_TESTS=ON -DKOR_BUILD_EXAMPLES=ON -DKOR_BUILD_BENCH=OFF -DKOR_FUZZ=OFF -DKOR_SANITIZE=OFF >/dev/null
cmake --build "$build" -j"$jobs" >"$build/build.log" 2>&1 || { tail -n 30 "$build/build.log"; exit 1; }
# Counters from an earlier run would add to this one's.
find "$build" -name '*.gcda' -delete
# A failed test is reported, yet the coverage of the others still counts.
status=0
ctest --test-dir "$build" -j"$jobs" --output-on-failure >"$build/ctest.log" 2>&1 || status=$?
sed -n '/tests passed/,$p' "$build/ctest.log"
# Threads racing on the counters can leave negative branch counts, which
# gcovr cannot parse; the line counts are sound. The report goes to a file
# of its own: gcovr replaces its output file, and /dev/null is none to replace.
gcovr -r "$root" --filter "$root/Framework/" --gcov-ignore-parse-errors -s -o "$build/coverage.txt" "$build" 2>/dev/null |
    grep '^lines:'
exit "$status"
