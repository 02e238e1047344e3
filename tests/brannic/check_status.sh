#!/bin/sh
# brannic status against the stand-in driver put in one state, in a Wine prefix of its own made
# fresh, so that no service a test left behind can answer for it.
#   check_status.sh RUNNER BIN_DIR WORK_DIR STATE
# STATE: not-registered, stopped, file-moved, running (then marked for deletion).
set -u
runner=$1 bin=$2 work=$3 state=$4
rm -rf "$work"
mkdir -p "$work"
export LUMETTA_WINEPREFIX="$work/prefix"
trap 'WINEPREFIX="$LUMETTA_WINEPREFIX" wineserver -k 2>/dev/null; rm -rf "$work"' EXIT

windows_path() { printf 'Z:%s' "$1" | tr / '\\'; }
brannic() { "$runner" "$bin/brannic.exe" "$@" </dev/null 2>&1 | tr -d '\r'; }

failures=0
# Runs brannic status; expects its exit status and, as whole lines, each line given.
expect_status() {   # what, exit status, line...
    what=$1 want=$2
    shift 2
    out=$("$runner" "$bin/brannic.exe" status </dev/null 2>&1)
    got=$?
    out=$(printf '%s\n' "$out" | tr -d '\r')
    bad=""
    [ "$got" = "$want" ] || bad="exit status $got, expected $want"
    for line; do
        printf '%s\n' "$out" | grep -qxF -e "$line" || bad="$bad${bad:+; }no line: $line"
    done
    if [ -n "$bad" ]; then
        echo "$what: $bad; brannic status printed:"
        printf '%s\n' "$out" | sed 's/^/  | /'
        failures=$((failures + 1))
    else
        echo "$what: as expected"
    fi
}

bin_windows=$(windows_path "$bin")
service="service QuorvelPortIO"
device='device \\.\Quorvel_NTPortIO'
case $state in
not-registered)
    expect_status "nothing registered" 1 "$service: not registered" \
        "$device: does not open: File not found" \
        "advice: register and start the driver with: brannic --install --dir \"$bin_windows\" open"
    ;;
stopped)
    # Registered, then registered again: the library rewrites the image path with "\??\".
    brannic add-service >/dev/null
    brannic add-service >/dev/null
    expect_status "registered, not started" 1 "$service: registered" \
        "service image path: \\??\\$bin_windows\\Tamsk.sys" \
        "driver file: found: $bin_windows\\Tamsk.sys" "service marked for deletion: no" \
        "service state: stopped" "advice: start the driver with: brannic open"
    ;;
file-moved)
    # Registered, then pointed at another folder (a "\??\" image path), whose file then goes.
    mkdir -p "$work/drivers"
    cp "$bin/Tamsk.sys" "$work/drivers/"
    drivers_windows=$(windows_path "$work/drivers")
    brannic add-service >/dev/null
    brannic add-service "$drivers_windows" >/dev/null
    rm "$work/drivers/Tamsk.sys"
    expect_status "the driver file moved away" 1 \
        "service image path: \\??\\$drivers_windows\\Tamsk.sys" \
        "driver file: missing: $drivers_windows\\Tamsk.sys" "service state: stopped" \
        "advice: the service names a driver file that is not there; register it again from the folder of Tamsk.sys with: brannic --install --dir \"$bin_windows\" open"
    ;;
running)
    brannic --install --dir "$bin_windows" open >/dev/null
    expect_status "running" 0 "service image path: $bin_windows\\Tamsk.sys" \
        "service state: running" "$device: opens" \
        'EC lock "Dorvane Utility Semaphore Object": does not exist now (no program is sending Dorvane EC commands)' \
        "rights to register a service: yes"
    brannic remove-service >/dev/null
    expect_status "running, marked for deletion" 0 "service state: running" "$device: opens" \
        "service marked for deletion: yes: it goes once its driver has stopped and no program holds it"
    ;;
*)
    echo "unknown state: $state"
    exit 2
    ;;
esac
exit $((failures > 0))
