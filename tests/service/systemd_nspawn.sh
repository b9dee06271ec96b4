#!/bin/bash
# The programs as services of a booted system manager: a throw-away root (a
# copy of /etc, the host's /usr and the build folder bound read-only) boots
# under systemd-nspawn, and the programs' own commands install and start
# them there under a service account. Exit code 77 (skipped) where no
# container can be booted.
# Usage: systemd_nspawn.sh <folder of Kor.Example and testhost>
set -u
skip() { echo "SKIP: $*"; exit 77; }

[ $# -eq 1 ] || { echo "usage: $0 <folder of Kor.Example and testhost>"; exit 2; }
bin=$(cd "$1" 2> /dev/null && pwd) || { echo "FAIL: no folder $1"; exit 1; }
for program in Kor.Example testhost; do
    [ -x "$bin/$program" ] || { echo "FAIL: no $program in $bin"; exit 1; }
done
[ "$(id -u)" -eq 0 ] || skip "not root"
command -v systemd-nspawn > /dev/null || skip "no systemd-nspawn (package systemd-container)"
command -v nsenter > /dev/null || skip "no nsenter"
[ -x /usr/lib/systemd/systemd ] || skip "no systemd"
[ -r /usr/lib/os-release ] || skip "no /usr/lib/os-release"

# The programs find their libraries by the build folder's absolute path, so
# the container sees the build at the same place.
build=$(dirname "$bin")
root=$(mktemp -d /tmp/kor-nspawn.XXXXXX) || skip "no temporary folder"
log=$root.boot.log
nspawn= leader=

# Killing the container's PID 1 ends every process in it at once: a clean
# shutdown would wait for the hung service's stop timeout. The container's
# mounts live in its own namespace; the root here holds only its own files.
cleanup() {
    [ -z "$leader" ] && [ -n "$nspawn" ] && leader=$(pgrep -P "$nspawn" | head -1)
    [ -n "$leader" ] && kill -KILL "$leader" 2> /dev/null
    if [ -n "$nspawn" ]; then
        for _ in $(seq 1 100); do
            kill -0 "$nspawn" 2> /dev/null || break
            sleep 0.1
        done
        kill -KILL "$nspawn" 2> /dev/null
        wait "$nspawn" 2> /dev/null
    fi
    rm -rf --one-file-system "$root" "$log"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

# mktemp made the root for root alone; the service account walks through it.
chmod 755 "$root"
mkdir -p "$root"/{usr,var,tmp,root,run,opt/kor/bin}
chmod 1777 "$root/tmp"
chmod 700 "$root/root"
cp -a /etc "$root/" || skip "/etc cannot be copied"
# nspawn looks for the release file before /usr is bound.
cp --remove-destination /usr/lib/os-release "$root/etc/os-release"
: > "$root/etc/fstab"
tr -d - < /proc/sys/kernel/random/uuid > "$root/etc/machine-id"
for dir in bin lib lib64 sbin; do
    [ -d "/usr/$dir" ] && ln -s "usr/$dir" "$root/$dir"
done

# The machine store at its default place: the units get no environment for it.
mkdir -p "$root/etc/kor/registry/HKEY_LOCAL_MACHINE/SOFTWARE" "$root/etc/kor/updater"
printf '[Common]\nmachineId={6d1e4b2a-8c3f-4e5d-9a7b-0c1d2e3f4a5b}\nUpdaterConfigPath=/etc/kor/updater\n' \
    > "$root/etc/kor/registry/HKEY_LOCAL_MACHINE/SOFTWARE/Kor.ini"
printf '<?xml version="1.0" encoding="UTF-8"?>\n<Setup><Settings><logdir>/var/log/kor</logdir></Settings></Setup>\n' \
    > "$root/etc/kor/updater/setup.xml"

# The test host twice: a copy named otherwise has a settings file of its own,
# which gives only that one a watchdog.
cp "$bin/testhost" "$root/opt/kor/bin/testhost"
cp "$bin/testhost" "$root/opt/kor/bin/hanghost"
printf '[Service]\nWatchdogSec=2\n' > "$root/opt/kor/bin/hanghost.ini"
chmod -R go-w,a+rX "$root/opt"

example='Kor\x20Example.service'
slow='Kor\x20Test\x20Host.service'
hang='Kor\x20Hang\x20Host.service'
units=$root/etc/systemd/system
sanitizer_env=()
binds=(--bind-ro=/usr --bind-ro="$build")
for name in TSAN_OPTIONS ASAN_OPTIONS UBSAN_OPTIONS; do
    value=${!name:-}
    [ -n "$value" ] || continue
    sanitizer_env+=("$name=$value")
    # A suppressions file named in the options must be there too.
    [[ "$value" =~ suppressions=([^:]+) ]] && [ -f "${BASH_REMATCH[1]}" ] \
        && binds+=(--bind-ro="${BASH_REMATCH[1]}")
done
# The service's own environment, given before the unit is installed.
dropin() {
    local unit=$1
    shift
    mkdir -p "$units/$unit.d"
    {
        echo '[Service]'
        for setting in "$@" "${sanitizer_env[@]}"; do
            echo "Environment=\"$setting\""
        done
    } > "$units/$unit.d/env.conf"
}
dropin "$slow" TESTHOST_MODE=run TESTHOST_SLOW_INIT=3000
dropin "$hang" TESTHOST_MODE=hang "TESTHOST_SERVICE_NAME=Kor Hang Host"
[ ${#sanitizer_env[@]} -gt 0 ] && dropin "$example"

# The console stays read-only: nothing here may wait for a terminal. The
# boot stops at basic.target; the host's own services, whose /etc this is,
# do not start.
systemd-nspawn --directory="$root" --machine=kor-test --boot "${binds[@]}" \
    --private-network --register=no --keep-unit --console=read-only \
    systemd.unit=basic.target < /dev/null > "$log" 2>&1 &
nspawn=$!
for _ in $(seq 1 100); do
    kill -0 "$nspawn" 2> /dev/null || break
    candidate=$(pgrep -P "$nspawn" | head -1)
    if [ -n "$candidate" ] && [[ "$(readlink "/proc/$candidate/exe" 2> /dev/null)" == */systemd ]]; then
        leader=$candidate
        break
    fi
    sleep 0.1
done
if [ -z "$leader" ]; then
    tail -5 "$log"
    skip "the container did not start its system manager"
fi

# Runs a command in the container with a clean environment, bounded by what
# is left of the whole test's time.
deadline=$((SECONDS + 75))
inside() {
    local left=$((deadline - SECONDS))
    [ $left -gt 30 ] && left=30
    if [ $left -le 0 ]; then
        echo "out of time for: $*" >&2
        return 124
    fi
    timeout $left nsenter --target "$leader" --mount --pid --uts --ipc --net --wd=/ -- \
        /usr/bin/env -i PATH=/usr/sbin:/usr/bin LANG=C.UTF-8 "${sanitizer_env[@]}" "$@"
}
# The manager answers once its socket is there; then it says when the boot
# has ended.
for _ in $(seq 1 150); do
    inside test -S /run/systemd/private && break
    kill -0 "$nspawn" 2> /dev/null || break
    sleep 0.2
done
state=$(inside systemctl is-system-running --wait 2>&1)
case $state in
running | degraded) ;;
*)
    tail -5 "$log"
    skip "the container did not boot: ${state:-no answer}"
    ;;
esac
# The account may write its log folder and the data folders' default place,
# nothing else of the programs'.
inside useradd --system --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin korsvc \
    && inside install -d -o korsvc -g korsvc -m 755 /var/log/kor /var/lib/kor \
    || skip "no service account in the container"
echo "booted: $state"

failed=0
pass() { echo "PASS: $*"; }
fail() {
    echo "FAIL: $*"
    failed=$((failed + 1))
}
property() { inside systemctl show -p "$2" --value "$1"; }
# Runs one of the program's commands in the container; its output on failure.
command_ok() {
    local output code
    output=$(inside "$@" 2>&1)
    code=$?
    [ $code -eq 0 ] && return 0
    echo "  $* ended with exit code $code:"
    tail -5 <<< "$output" | sed 's/^/  /'
    return 1
}
journal() { inside journalctl --no-pager -q -o cat -u "$@"; }

# Installed for the account and started: it runs as that account and keeps
# its PID file in its runtime folder.
if command_ok "$bin/Kor.Example" -install korsvc && command_ok "$bin/Kor.Example" -start; then
    pid=$(property "$example" MainPID)
    user=$(inside stat -c %U "/proc/$pid" 2> /dev/null)
    pidfile=$(inside cat '/run/Kor\x20Example/Kor.Example.pid' 2> /dev/null)
    if [ "$pid" -gt 0 ] 2> /dev/null && [ "$user" = korsvc ] && [ "$pidfile" = "$pid" ]; then
        pass "-install korsvc, -start: runs as korsvc, PID file in /run/Kor\\x20Example"
    else
        fail "-install korsvc, -start: MainPID=$pid user=$user PID file=$pidfile;" \
            "runtime folder: $(inside ls -la '/run/Kor\x20Example' 2>&1 | tr '\n' ' ')"
    fi
else
    fail "-install korsvc, -start of Kor.Example"
fi
# The account writes its own log file in the log folder it was given.
logfile=/var/log/kor/Example/Kor.Example.log
if inside grep -q "service start with pid" "$logfile" 2> /dev/null; then
    pass "log file: the service writes $logfile"
else
    fail "log file: no start line in $logfile;" \
        "$(inside ls -la "$(dirname "$logfile")" 2>&1 | tail -n +2 | tr -s ' \n' ' ')"
fi

# -start returns only once a slow init() has ended.
if command_ok /opt/kor/bin/testhost -install korsvc && command_ok /opt/kor/bin/testhost -start; then
    active=$(property "$slow" ActiveState)
    [ "$active" = active ] && pass "-start after a slow init(): active" \
        || fail "-start after a slow init() returned with ActiveState=$active"
else
    fail "-install korsvc, -start of the slow test host"
fi

# A normal start leaves nothing at warning level or above in the journal;
# nor does a warning or error reach it only through standard output, where
# it is filed as information and "-p warning" does not show it.
inside journalctl --sync
warnings=
for unit in "$example" "$slow"; do
    all=$(journal "$unit")
    if [ -z "$all" ]; then
        warnings+=$'\n'"$unit: no journal lines at all"
        continue
    fi
    lines=$(journal "$unit" -p warning)
    [ -n "$lines" ] && warnings+=$'\n'"$unit at warning level: $lines"
    lines=$(grep -E '^[0-9]{4}/[0-9]{2}/[0-9]{2} [0-9:,]+ [WE] ' <<< "$all")
    [ -n "$lines" ] && warnings+=$'\n'"$unit on standard output (priority info): $lines"
done
if [ -z "$warnings" ]; then
    pass "journal: no warning of a normal start"
else
    fail "journal: warnings of a normal start:"
    sed 's/^/  /' <<< "${warnings#$'\n'}"
fi

# A hung main loop: the watchdog aborts it and systemd restarts it.
hanghost=(env "TESTHOST_SERVICE_NAME=Kor Hang Host" /opt/kor/bin/hanghost)
if command_ok "${hanghost[@]}" -install korsvc && command_ok "${hanghost[@]}" -start; then
    restarts=0
    for _ in $(seq 1 60); do
        restarts=$(property "$hang" NRestarts)
        [ "${restarts:-0}" -ge 1 ] 2> /dev/null && break
        sleep 0.5
    done
    inside journalctl --sync
    lines=$(journal "$hang")
    if [ "${restarts:-0}" -ge 1 ] 2> /dev/null && grep -q 'Watchdog timeout' <<< "$lines" \
        && grep -q 'status=6/ABRT' <<< "$lines"; then
        pass "watchdog: the hung service ended by SIGABRT and was restarted ($restarts restarts)"
    else
        fail "watchdog: NRestarts=$restarts WatchdogUSec=$(property "$hang" WatchdogUSec), journal:"
        tail -8 <<< "$lines" | sed 's/^/  /'
    fi
else
    fail "-install korsvc, -start of the hanging test host"
fi

# A reload ends and leaves the service running.
if inside systemctl reload "$example" && [ "$(property "$example" ActiveState)" = active ]; then
    pass "reload: active"
else
    fail "reload: ActiveState=$(property "$example" ActiveState)"
fi

# A stop under the account ends the service with success.
if command_ok "$bin/Kor.Example" -stop; then
    result=$(property "$example" Result) status=$(property "$example" ExecMainStatus)
    [ "$result" = success ] && [ "$status" = 0 ] && pass "-stop: Result=success" \
        || fail "-stop: Result=$result ExecMainStatus=$status"
else
    fail "-stop of Kor.Example"
fi

[ $failed -eq 0 ] && echo "7 passed, 0 failed" || echo "$failed failed"
[ $failed -eq 0 ]
