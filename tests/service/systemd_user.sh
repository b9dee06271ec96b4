#!/bin/bash
# The example program as a real systemd service: a private user manager in
# its own PID and mount namespaces installs, starts, queries, stops and
# removes it through the program's own commands. Exit code 77 (skipped) where
# the namespaces or the manager cannot be had.
# Usage: systemd_user.sh <folder of Kor.Example> <machine store root>
set -u
bin=$1
registry=$2
skip() { echo "SKIP: $*"; exit 77; }

if [ -z "${KOR_IN_NAMESPACE:-}" ]; then
    command -v unshare > /dev/null || skip "no unshare"
    [ -x /lib/systemd/systemd ] || skip "no systemd"
    KOR_IN_NAMESPACE=1 exec unshare --pid --fork --mount --mount-proc "$0" "$@" \
        || skip "private namespaces cannot be made here"
fi

mount -t tmpfs tmpfs /run 2> /dev/null && mkdir -p /run/systemd/system || skip "no tmpfs on /run"
export XDG_RUNTIME_DIR=$(mktemp -d) HOME=$(mktemp -d)
chmod 700 "$XDG_RUNTIME_DIR"
/lib/systemd/systemd --user > "$HOME/manager.log" 2>&1 &
manager=$!
trap 'kill $manager 2> /dev/null; wait $manager 2> /dev/null' EXIT
for _ in $(seq 1 100); do
    [ -S "$XDG_RUNTIME_DIR/systemd/private" ] && break
    sleep 0.1
done
[ -S "$XDG_RUNTIME_DIR/systemd/private" ] || skip "the user manager did not start"

printf '#!/bin/sh\nexec systemctl --user "$@"\n' > "$HOME/systemctl"
chmod +x "$HOME/systemctl"
export KOR_SYSTEMCTL=$HOME/systemctl KOR_SYSTEMD_UNIT_DIR=$HOME/.config/systemd/user
mkdir -p "$KOR_SYSTEMD_UNIT_DIR"
systemctl --user set-environment KOR_REGISTRY_ROOT="$registry"
# A sanitizer build's options (suppressions) reach the service too.
for name in TSAN_OPTIONS ASAN_OPTIONS UBSAN_OPTIONS; do
    [ -n "${!name:-}" ] && systemctl --user set-environment "$name=${!name}"
done
unit='Kor\x20Example.service'
failed=0
fail() {
    echo "FAIL: $*"
    failed=1
}

# Runs one command of the program: it must end with 0 and log the line.
expect() {
    local line=$1
    shift
    local output
    output=$(cd "$HOME" && KOR_REGISTRY_ROOT="$registry" "$bin/Kor.Example" "$@" 2>&1)
    local code=$?
    if [ $code -ne 0 ] || ! grep -qF -- "$line" <<< "$output"; then
        fail "$* (exit code $code), expected: $line"
        echo "$output" | tail -5
    else
        echo "PASS: $* -> $line"
    fi
}
property() { systemctl --user show -p "$1" --value "$unit"; }

expect "The service is installed." -install
expect "The service is started." -start
expect "Status is 'SERVICE_RUNNING'" -status
# The runtime folder carries the escaped name, backslash and all.
if [ -d "$XDG_RUNTIME_DIR/Kor\\x20Example" ]; then
    echo "PASS: runtime directory"
else
    fail "runtime directory, found: $(ls "$XDG_RUNTIME_DIR")"
fi
# A reload ends (READY=1 after RELOADING=1) and leaves the service running.
if timeout 30 systemctl --user reload "$unit" && [ "$(property ActiveState)" = active ] \
    && [[ "$(property StatusText)" == "running since "* ]]; then
    echo "PASS: reload"
else
    fail "reload, ActiveState=$(property ActiveState) StatusText=$(property StatusText)"
fi
expect "The service is stopped." -stop
result=$(property Result) status=$(property ExecMainStatus)
[ "$result" != success ] || [ "$status" != 0 ] && fail "after -stop Result=$result ExecMainStatus=$status"
expect "The service is deleted." -uninstall
load=$(property LoadState)
[ "$load" != not-found ] && fail "after -uninstall LoadState=$load"
[ $failed -eq 0 ] && echo "7 passed, 0 failed" || echo "FAILED"
exit $failed
