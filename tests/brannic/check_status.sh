#!/bin/sh
# brannic status against the stand-in driver put in each of the states given, one after the
# other, in a Wine prefix of its own made fresh, so that no service another test left behind
# can answer for it.
#   check_status.sh RUNNER BIN_DIR WORK_DIR STATE...
# STATE: not-registered, stopped, file-moved, running (then marked for deletion), refused (in
# sequence: a start Windows refuses, a driver for another processor, a folder others may write,
# a disabled service). A state may follow another only where it sets up everything it checks
# itself and what came before leaves nothing that could hide a fault from it
# (tests/brannic/CMakeLists.txt says which follow which, and why).
set -u
runner=$1 bin=$2 work=$3
shift 3
rm -rf "$work"
mkdir -p "$work"
export LUMETTA_WINEPREFIX="$work/prefix"
trap 'WINEPREFIX="$LUMETTA_WINEPREFIX" wineserver -k 2>/dev/null; rm -rf "$work"' EXIT

windows_path() { printf 'Z:%s' "$1" | tr / '\\'; }
brannic() { "$runner" "$bin/brannic.exe" "$@" </dev/null 2>&1 | tr -d '\r'; }

failures=0
# Runs brannic with the words given (split at blanks); expects its exit status and each line
# given: "TEXT" a whole line, "START...PART" a line that starts with START and holds PART after
# it, "!TEXT" no line holding TEXT.
expect_run() {   # what, exit status, words, line...
    what=$1 want=$2 words=$3
    shift 3
    out=$("$runner" "$bin/brannic.exe" $words </dev/null 2>&1)
    got=$?
    out=$(printf '%s\n' "$out" | tr -d '\r')
    bad=""
    [ "$got" = "$want" ] || bad="exit status $got, expected $want"
    for line; do
        case $line in
        !*) ! printf '%s\n' "$out" | grep -qF -e "${line#!}" ;;
        *...*) printf '%s\n' "$out" | START=${line%%...*} PART=${line#*...} awk '
                   index($0, ENVIRON["START"]) == 1 &&
                   index(substr($0, length(ENVIRON["START"]) + 1), ENVIRON["PART"]) { found = 1 }
                   END { exit !found }' ;;
        *) printf '%s\n' "$out" | grep -qxF -e "$line" ;;
        esac || bad="$bad${bad:+; }not as expected: $line"
    done
    if [ -n "$bad" ]; then
        printf '%s: %s; brannic %s printed:\n' "$what" "$bad" "$words"
        printf '%s\n' "$out" | sed 's/^/  | /'
        failures=$((failures + 1))
    else
        printf '%s: as expected\n' "$what"
    fi
}
expect_status() { what=$1 want=$2; shift 2; expect_run "$what" "$want" status "$@"; }

bin_windows=$(windows_path "$bin")
service="service QuorvelPortIO"
device='device \\.\Quorvel_NTPortIO'
for state; do
    echo "== $state"
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
            "service state: stopped" "service last start: none since Windows started" \
            "advice: start the driver with: brannic open"
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
    refused)
        # Wine's own reg.exe runs through the runner, which finds the build tree from here.
        cd "$work"
        key='HKLM\System\CurrentControlSet\Services\QuorvelPortIO'
        brannic add-service >/dev/null
        # The stand-in fails its start with the status its service key names, as Windows fails a
        # driver it refuses. Wine records no reason for the failed start (Windows does), so the
        # words come from the start brannic makes itself after the library's open failed.
        # status | error | words | the start of the advice
        while IFS='|' read -r status error words advice; do
            "$runner" reg add "$key" /v DiagStartStatus /t REG_DWORD /d "$status" /f >/dev/null 2>&1
            expect_run "start refused with $status" 1 open \
                "brannic: Windows did not start the driver: $words (error $error..." \
                "brannic: $advice..." "brannic: brannic status tells what stands in the way"
            expect_status "after the refused start ($status)" 1 "service state: stopped" \
                "service last start: no failure recorded"
        done <<EOF
0xC0000428|577|Windows cannot verify the driver's digital signature|Windows' driver signature enforcement decides this
0xC000036C|1275|Windows blocks this driver by policy|the vulnerable driver blocklist or Memory integrity
0xC0000022|5|access was refused, as security software does when it blocks a driver|the security software's log
EOF
        "$runner" reg delete "$key" /v DiagStartStatus /f >/dev/null 2>&1

        # A driver file whose header names the other processor of the two the tree is built for.
        mkdir -p "$work/other"
        cp "$bin/Tamsk.sys" "$work/other/"
        other_windows=$(windows_path "$work/other")
        header=$(od -An -tu4 -j60 -N4 "$bin/Tamsk.sys" | tr -d ' ')
        case $(od -An -tx2 -j$((header + 4)) -N2 "$bin/Tamsk.sys" | tr -d ' ') in
        8664) machine='\114\001' built="32-bit x86" platform=x64 ;;
        *) machine='\144\206' built=x64 platform="32-bit x86" ;;
        esac
        printf "$machine" | dd of="$work/other/Tamsk.sys" bs=1 seek=$((header + 4)) conv=notrunc 2>/dev/null
        brannic add-service "$other_windows" >/dev/null
        # The folder as Wine reports it: its Unix owner (the user running Wine) may write it, and
        # Everyone only when the folder's mode lets others write.
        chmod 755 "$work/other"
        expect_status "a driver for another processor" 1 \
            "driver file machine: $built, but this Windows loads only $platform drivers" \
            "driver folder write access: not only administrators: ..." "!Everyone" \
            "advice: this Windows needs Tamsk.sys built for $platform; register that one with: brannic --install --dir DIR open" \
            "warning: users who are not administrators may change Tamsk.sys or its folder..."
        # Wine's service manager writes its own copy of the image path back to the registry when
        # the status asks whether the service is marked for deletion: register the folder again.
        brannic add-service "$other_windows" >/dev/null
        chmod o+w "$work/other"
        expect_status "a folder everyone may write" 1 \
            "driver folder write access: not only administrators: ...Everyone" \
            "driver file write access: not only administrators: ..."
        chmod o-w "$work/other"

        # Disabled, as Windows reads it when it starts: the registry value, then the service
        # manager started again. Registering again rewrites only the registry.
        brannic add-service >/dev/null
        "$runner" reg add "$key" /v Start /t REG_DWORD /d 4 /f >/dev/null 2>&1
        WINEPREFIX="$LUMETTA_WINEPREFIX" wineserver -k 2>/dev/null
        WINEPREFIX="$LUMETTA_WINEPREFIX" wineserver -w 2>/dev/null
        disabled_advice="advice: the service is disabled; as an administrator, make it start on demand with: sc config QuorvelPortIO start= demand..."
        expect_status "disabled" 1 "service start type: disabled" "$disabled_advice"
        expect_run "opening a disabled service" 1 "--install --dir $bin_windows open" \
            "brannic: Windows did not start the driver: the service is disabled (error 1058..."
        expect_status "disabled, registered again" 1 \
            'service start type: on demand (the library starts it); the service manager holds "disabled" until Windows restarts' \
            "$disabled_advice"
        ;;
    *)
        echo "unknown state: $state"
        exit 2
        ;;
    esac
done
exit $((failures > 0))
