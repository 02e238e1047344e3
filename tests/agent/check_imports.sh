#!/bin/sh
# Checks a PE file's import table with objdump -p.
#   check_imports.sh OBJDUMP FILE DLL...               every imported DLL is one of DLL...
#   check_imports.sh --functions DLL OBJDUMP FILE FN... the functions imported from DLL are
#                                                       exactly FN... (none: DLL not imported)
set -eu
if [ "$1" = --functions ]; then
    dll=$2 objdump=$3 file=$4
    shift 4
    seen=$("$objdump" -p "$file" | awk -v dll="$dll" '
        /DLL Name:/ { inside = (tolower($3) == tolower(dll)); next }
        inside && NF == 0 { inside = 0 }
        inside && $1 != "vma:" { print $NF }' | sort | tr '\n' ' ')
    want=$(for f in "$@"; do echo "$f"; done | sort | tr '\n' ' ')
    if [ "$seen" != "$want" ]; then
        echo "$file imports from $dll: [${seen% }], expected: [${want% }]"
        exit 1
    fi
    exit 0
fi
objdump=$1 file=$2
shift 2
status=0
for dll in $("$objdump" -p "$file" | awk '/DLL Name:/ { print $3 }'); do
    ok=0
    for allowed in "$@"; do
        [ "$(echo "$dll" | tr a-z A-Z)" = "$(echo "$allowed" | tr a-z A-Z)" ] && ok=1
    done
    if [ $ok = 0 ]; then
        echo "$file imports $dll, which is not among: $*"
        status=1
    fi
done
exit $status
