#!/bin/bash
# The example program as a service of a private user manager in its own PID
# and mount namespaces, through the program's own commands. Exit code 77
# (skipped) where the namespaces or the manager cannot be had.
# Usage: systemd_user.sh <folder of Kor.Example> <machine store root>
set -u
source "$(dirname "$0")/common.sh"
if [ -z "${KOR_IN_NAMESPACE:-}" ]; then
    command -v unshare > /dev/null || skip "no unshare"
    [ -x /lib/systemd/systemd ] || skip "no systemd"
    KOR_IN_NAMESPACE=1 exec unshare --pid --fork --mount --mount-proc "$0" "$@" \
        || skip "private namespaces cannot be made here"
fi

mount -t tmpfs tmpfs /run 2> /dev/null && mkdir -p /run/systemd/system || skip "no tmpfs on /run"
export XDG_RUNTIME_DIR=$(mktemp -d) HOME=$(mktemp -d) KOR_REGISTRY_ROOT=$2
/lib/systemd/systemd --user > "$HOME/manager.log" 2>&1 &
manager=$!
trap 'kill $manager 2> /dev/null; wait $manager 2> /dev/null; rm -rf "$XDG_RUNTIME_DIR" "$HOME"' EXIT
wait_until 100 test -S "$XDG_RUNTIME_DIR/systemd/private" || skip "the user manager did not start"

printf '#!/bin/sh\nexec systemctl --user "$@"\n' > "$HOME/systemctl"
chmod +x "$HOME/systemctl"
export KOR_SYSTEMCTL=$HOME/systemctl KOR_SYSTEMD_UNIT_DIR=$HOME/.config/systemd/user
mkdir -p "$KOR_SYSTEMD_UNIT_DIR"
systemctl --user set-environment KOR_REGISTRY_ROOT="$KOR_REGISTRY_ROOT" "${sanitizer_env[@]}"
example=$1/Kor.Example unit='Kor\x20Example.service'
property() { systemctl --user show -p "$2" --value "$1"; }
cd "$HOME" || exit 1

check "-install" says "The service is installed." "$example" -install
check "-start" says "The service is started." "$example" -start
check "-status" says "Status is 'SERVICE_RUNNING'" "$example" -status
# The runtime folder carries the escaped name, backslash and all.
check "runtime folder" test -d "$XDG_RUNTIME_DIR/Kor\\x20Example"
# A reload ends (READY=1 after RELOADING=1) and leaves the service running.
check "reload" timeout 30 systemctl --user reload "$unit"
check "active after the reload" has "$unit" ActiveState active
check "status after the reload" has "$unit" StatusText "running since *"
check "-stop" says "The service is stopped." "$example" -stop
check "stopped with success" has "$unit" Result success
check "stopped with exit code 0" has "$unit" ExecMainStatus 0
check "-uninstall" says "The service is deleted." "$example" -uninstall
check "unit gone" has "$unit" LoadState not-found
[ $failed -eq 0 ]
