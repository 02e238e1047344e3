#!/bin/sh
# Reads a DLL's tables with objdump; runs nothing.
#   check_pe_tables.sh OBJDUMP exports DLL HEADER   export names equal the header's prototypes
#   check_pe_tables.sh OBJDUMP imports DLL NAME...  every imported DLL is one of NAME...
set -eu
objdump=$1 what=$2 dll=$3
shift 3
tables=$("$objdump" -p "$dll")

case $what in
exports)
    header=$1
    # Export names follow the "[Ordinal/Name Pointer] Table" line as "[   n] Name".
    exported=$(printf '%s\n' "$tables" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
               sed -n 's/^[[:space:]]*\[ *[0-9]*\] \([^ ]*\)$/\1/p' | sort)
    declared=$(sed -n 's/^[A-Z]* WINAPI \(Brannic_[A-Za-z]*\)(.*/\1/p' "$header" | sort)
    status=0
    if printf '%s\n' "$exported" | grep -q '@'; then
        echo "decorated export names:"; printf '%s\n' "$exported" | grep '@'; status=1
    fi
    missing=$(printf '%s\n' "$declared" | grep -vxF "$exported" || true)
    extra=$(printf '%s\n' "$exported" | grep -vxF "$declared" || true)
    [ -z "$missing" ] || { echo "declared in the header, not exported:"; echo "$missing"; status=1; }
    [ -z "$extra" ] || { echo "exported, not declared in the header:"; echo "$extra"; status=1; }
    n_exported=$(printf '%s\n' "$exported" | grep -c . || true)
    n_declared=$(printf '%s\n' "$declared" | grep -c . || true)
    echo "exports: $n_exported, header prototypes: $n_declared"
    [ "$n_exported" = "$n_declared" ] || status=1
    exit $status
    ;;
imports)
    imported=$(printf '%s\n' "$tables" | sed -n 's/^[[:space:]]*DLL Name: //p')
    echo "imports: $(echo $imported)"
    [ -n "$imported" ] || { echo "no import table"; exit 1; }
    status=0
    for dll_name in $imported; do
        ok=0
        for allowed in "$@"; do
            [ "$(echo "$dll_name" | tr a-z A-Z)" = "$(echo "$allowed" | tr a-z A-Z)" ] && ok=1
        done
        [ $ok = 1 ] || { echo "not allowed: $dll_name"; status=1; }
    done
    exit $status
    ;;
esac
echo "unknown check: $what" >&2
exit 2
