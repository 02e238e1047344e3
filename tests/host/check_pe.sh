#!/bin/sh
# Reads a 32-bit deliverable's PE tables with objdump; runs nothing.
#   check_pe.sh OBJDUMP FILE exports HEADER
#       the export names are undecorated and equal the header's prototypes
#   check_pe.sh OBJDUMP FILE imports PINNED CLASSIC
#       the load-time imports ("dll function", one per line) are exactly those of PINNED, every
#       one from a system DLL is in CLASSIC (what Windows 95 and NT 4.0 both export), and the
#       file asks for no Windows newer than 4.0
#   check_pe.sh OBJDUMP FILE dlls NAME...
#       every DLL the file imports from is one of NAME...
#   check_pe.sh OBJDUMP FILE functions DLL NAME...
#       the functions imported from DLL are exactly NAME... (none: DLL is not imported)
set -eu
objdump=$1 file=$2 what=$3
shift 3
tables=$("$objdump" -p "$file")
status=0

# Lines of a list file without comments and blanks, sorted.
entries() { sed -e 's/#.*//' -e '/^[[:space:]]*$/d' "$1" | sort -u; }

# The load-time imports as "dll function" lines, the DLL in lower case. "DLL Name: X" opens a
# DLL's list; its functions are the last word of each row after it.
imports() {
    printf '%s\n' "$tables" | awk '
        /DLL Name:/ { dll = tolower($3); next }
        dll != "" && NF == 0 { dll = "" }
        dll != "" && $1 ~ /^[0-9a-f]+$/ && NF >= 3 { print dll, $NF }' | sort -u
}
lower() { echo "$1" | tr 'A-Z' 'a-z'; }

case $what in
exports)
    header=$1
    # Export names follow the "[Ordinal/Name Pointer] Table" line as "[   n] Name".
    exported=$(printf '%s\n' "$tables" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
               sed -n 's/^[[:space:]]*\[ *[0-9]*\] \([^ ]*\)$/\1/p' | sort)
    declared=$(sed -n 's/^[A-Z]* WINAPI \(Brannic_[A-Za-z]*\)(.*/\1/p' "$header" | sort)
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
    ;;
imports)
    pinned=$1 classic=$2
    imported=$(imports)
    expected=$(entries "$pinned")
    echo "$(printf '%s\n' "$imported" | grep -c .) load-time imports"
    unexpected=$(printf '%s\n' "$imported" | grep -vxF "$expected" || true)
    gone=$(printf '%s\n' "$expected" | grep -vxF "$imported" || true)
    [ -z "$unexpected" ] || { echo "imported, not in $(basename "$pinned"):"; echo "$unexpected"; status=1; }
    [ -z "$gone" ] || { echo "in $(basename "$pinned"), not imported:"; echo "$gone"; status=1; }
    known=$(entries "$classic")
    newer=$(printf '%s\n' "$imported" | grep -E '^(kernel32|user32|advapi32|msvcrt)\.dll ' |
            grep -vxF "$known" || true)
    [ -z "$newer" ] || { echo "not exported by both Windows 95 and NT 4.0:"; echo "$newer"; status=1; }
    for field in OSystemVersion SubsystemVersion; do
        major=$(printf '%s\n' "$tables" | awk -v f="Major$field" '$1 == f { print $2 }')
        minor=$(printf '%s\n' "$tables" | awk -v f="Minor$field" '$1 == f { print $2 }')
        [ "$major.$minor" = 4.0 ] || { echo "$field is $major.$minor, not 4.0"; status=1; }
    done
    ;;
dlls)
    for dll in $(imports | cut -d' ' -f1 | sort -u); do
        allowed=0
        for name in "$@"; do [ "$dll" = "$(lower "$name")" ] && allowed=1; done
        [ $allowed = 1 ] || { echo "$(basename "$file") imports from $dll, not among: $*"; status=1; }
    done
    ;;
functions)
    dll=$(lower "$1")
    shift
    seen=$(imports | awk -v dll="$dll" '$1 == dll { print $2 }' | sort | tr '\n' ' ')
    want=$(for name in "$@"; do echo "$name"; done | sort | tr '\n' ' ')
    [ "$seen" = "$want" ] || { echo "$(basename "$file") imports from $dll: [${seen% }], expected: [${want% }]"; status=1; }
    ;;
*)
    echo "unknown check: $what" >&2
    exit 2
    ;;
esac
exit $status
