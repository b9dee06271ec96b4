# What both service scripts use: results, bounded waits, and the sanitizer
# options, which a sanitizer build's services need as much as the script.
skip() { echo "SKIP: $*"; exit 77; }
failed=0
# check <what> <command...>: the command's exit code passes or fails <what>.
check() {
    local what=$1
    shift
    "$@" && echo "PASS: $what" && return 0
    echo "FAIL: $what"
    failed=$((failed + 1))
    return 1
}

# Retries the command until it succeeds, <tries> times a tenth of a second apart.
wait_until() {
    local tries=$1
    shift
    for _ in $(seq 1 "$tries"); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}

# says <text> <command...>: it ends with 0 and says the text; else its output is shown.
says() {
    local text=$1 output code
    shift
    output=$("$@" 2>&1)
    code=$?
    [ $code -eq 0 ] && grep -qF -- "$text" <<< "$output" && return 0
    echo "  $* ended with exit code $code, expected: $text"
    tail -5 <<< "$output" | sed 's/^/  /'
    return 1
}

# has <unit> <property> <pattern>: the script's property() matches, else is shown.
has() {
    local value
    value=$(property "$1" "$2")
    [[ $value == $3 ]] || { echo "  $1 $2=$value"; return 1; }
}

sanitizer_env=()
for name in TSAN_OPTIONS ASAN_OPTIONS UBSAN_OPTIONS; do
    [ -n "${!name:-}" ] && sanitizer_env+=("$name=${!name}")
done
