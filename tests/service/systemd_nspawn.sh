#!/bin/bash
# The programs, installed by their own commands under a service account, as
# services of a system manager that systemd-nspawn boots in a throw-away root
# (a copy of /etc; /usr and the build bound read-only). Exit code 77: no container.
# Usage: systemd_nspawn.sh <folder of Kor.Example and testhost>
set -u
source "$(dirname "$0")/common.sh"
bin=$(cd "${1:?usage: $0 <folder of Kor.Example and testhost>}" && pwd) || exit 1
[ -x "$bin/Kor.Example" ] && [ -x "$bin/testhost" ] || { echo "FAIL: no Kor.Example or testhost in $bin"; exit 1; }
[ "$(id -u)" -eq 0 ] || skip "not root"
command -v systemd-nspawn nsenter > /dev/null || skip "no systemd-nspawn (package systemd-container) or nsenter"
[ -x /usr/lib/systemd/systemd ] && [ -r /usr/lib/os-release ] || skip "no systemd or no /usr/lib/os-release"

# The programs find their libraries by the build folder's absolute path, so
# the container sees the build at the same place.
build=$(dirname "$bin")
root=$(mktemp -d /tmp/kor-nspawn.XXXXXX) || skip "no temporary folder"
log=$root.boot.log
nspawn= leader=
gone() { ! kill -0 "$1" 2> /dev/null; }
# Killing the container's PID 1 ends all in it at once, where a shutdown would
# wait for the hung service's stop timeout. The root holds only its own files.
cleanup() {
    if [ -n "$nspawn" ]; then
        kill -KILL "${leader:-$(pgrep -P "$nspawn" | head -1)}" 2> /dev/null
        wait_until 100 gone "$nspawn" || kill -KILL "$nspawn"
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
ln -s usr/bin usr/lib usr/lib64 usr/sbin "$root/"

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
binds=(--bind-ro=/usr --bind-ro="$build")
# A suppressions file named in the sanitizer options must be there too.
for setting in "${sanitizer_env[@]}"; do
    [[ $setting =~ suppressions=([^:]+) ]] && [ -f "${BASH_REMATCH[1]}" ] && binds+=(--bind-ro="${BASH_REMATCH[1]}")
done
# The service's own environment, given before the unit is installed.
dropin() {
    local file=$root/etc/systemd/system/$1.d/env.conf
    mkdir -p "$(dirname "$file")"
    printf '[Service]\n' > "$file"
    printf 'Environment="%s"\n' "${@:2}" "${sanitizer_env[@]}" >> "$file"
}
dropin "$slow" TESTHOST_MODE=run TESTHOST_SLOW_INIT=3000
dropin "$hang" TESTHOST_MODE=hang "TESTHOST_SERVICE_NAME=Kor Hang Host"
[ ${#sanitizer_env[@]} -gt 0 ] && dropin "$example"

# Nothing may wait for a terminal; the host's own services, whose /etc this
# is, stay off behind basic.target.
systemd-nspawn --directory="$root" --machine=kor-test --boot "${binds[@]}" \
    --private-network --register=no --keep-unit --console=read-only \
    systemd.unit=basic.target < /dev/null > "$log" 2>&1 &
nspawn=$!
manager_started() {
    local pid
    pid=$(pgrep -P "$nspawn" | head -1)
    [[ "$(readlink "/proc/$pid/exe" 2> /dev/null)" == */systemd ]] && leader=$pid
}
wait_until 100 manager_started || { tail -5 "$log"; skip "the container did not start its system manager"; }

# Runs a command in the container with a clean environment, bounded by what
# is left of the whole test's time.
deadline=$((SECONDS + 75))
inside() {
    local left=$((deadline - SECONDS))
    [ $left -gt 0 ] || { echo "out of time for: $*" >&2; return 124; }
    timeout $((left < 30 ? left : 30)) nsenter --target "$leader" --mount --pid --uts --ipc --net --wd=/ -- \
        /usr/bin/env -i PATH=/usr/sbin:/usr/bin LANG=C.UTF-8 "${sanitizer_env[@]}" "$@"
}
# Once its socket is there, the manager says when the boot has ended.
wait_until 300 inside test -S /run/systemd/private
state=$(inside systemctl is-system-running --wait 2>&1)
[[ $state =~ ^(running|degraded)$ ]] || { tail -5 "$log"; skip "the container did not boot: ${state:-no answer}"; }
# The account may write its log folder and the data folders' default place,
# nothing else of the programs'.
inside useradd --system --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin korsvc \
    && inside install -d -o korsvc -g korsvc -m 755 /var/log/kor /var/lib/kor \
    || skip "no service account in the container"
property() { inside systemctl show -p "$2" --value "$1"; }
journal() { inside journalctl --no-pager -q -o cat -u "$@"; }

# Installs the program for the account and starts it.
install_start() {
    check "$1 -install korsvc" says "The service is installed." inside "${@:2}" -install korsvc
    check "$1 -start" says "The service is started." inside "${@:2}" -start
}

# Installed for the account and started: it runs as that account, keeps its
# PID file in its runtime folder and writes its log file in the log folder.
install_start Kor.Example "$bin/Kor.Example"
pid=$(property "$example" MainPID)
check "runs as korsvc" says korsvc inside stat -c %U "/proc/$pid"
check "PID file in /run/Kor\\x20Example" inside grep -qx "$pid" '/run/Kor\x20Example/Kor.Example.pid'
check "log file" inside grep -q "service start with pid" /var/log/kor/Example/Kor.Example.log

# -start returns only once a slow init() has ended.
install_start "slow test host" /opt/kor/bin/testhost
check "slow test host active once -start returned" has "$slow" ActiveState active

# A normal start leaves nothing at warning level or above in the journal;
# nor does a warning or error reach it through standard output, where it is
# filed as information.
no_warnings() {
    local all warned
    all=$(journal "$1")
    [ -n "$all" ] || { echo "  no journal lines at all"; return 1; }
    warned=$(journal "$1" -p warning; grep -E '^[0-9]{4}/[0-9]{2}/[0-9]{2} [0-9:,]+ [WE] ' <<< "$all")
    [ -z "$warned" ] || { sed 's/^/  /' <<< "$warned"; return 1; }
}
inside journalctl --sync
for unit in "$example" "$slow"; do
    check "journal of $unit: no warnings" no_warnings "$unit"
done

# A hung main loop: the watchdog aborts it and systemd restarts it.
install_start "hanging test host" env "TESTHOST_SERVICE_NAME=Kor Hang Host" /opt/kor/bin/hanghost
wait_until 300 has "$hang" NRestarts '[1-9]*' > /dev/null
check "watchdog: restarted" has "$hang" NRestarts '[1-9]*'
inside journalctl --sync
lines=$(journal "$hang")
check "watchdog: ended by SIGABRT" grep -q 'Watchdog timeout.*status=6/ABRT' <<< "${lines//$'\n'/ }" \
    || tail -8 <<< "$lines" | sed 's/^/  /'

# A stop under the account ends the service with success.
check "-stop" says "The service is stopped." inside "$bin/Kor.Example" -stop
check "stopped with success" has "$example" Result success
check "stopped with exit code 0" has "$example" ExecMainStatus 0
[ $failed -eq 0 ]
