#!/bin/sh
# Checks of the release archive and of what was built from it; reads files, runs nothing.
#   check_kit.sh contents ARCHIVE LIST
#       the archive holds exactly the files of LIST, in one folder named like the archive
#   check_kit.sh binaries KIT OBJDUMP32 OBJDUMP64 PE_CHECK
#       each binary is of its architecture; both libraries export the header's functions and
#       import only system DLLs; brannic.exe imports only those and Brannic.dll
#   check_kit.sh examples PE_CHECK OBJDUMP32 OBJDUMP64 CHECK_DIR32 CHECK_DIR64
#       the example hosts built from the kit (MinGW and clang/lld-link) are of their
#       architecture and import the three functions they call by their plain names
#   check_kit.sh checksums KIT ARCHIVE
#       the kit's SHA256SUMS lists every other file of the kit with its hash, and SHA256SUMS
#       beside the archive gives the archive's
#   check_kit.sh link-times KIT TIME_FILE
#       every program and library of the kit carries the time of TIME_FILE (the release's) as
#       its link time stamp
set -eu
what=$1
shift
status=0
fail() { echo "$*"; status=1; }

format_is() {   # objdump, file, format
    [ -f "$2" ] || { fail "missing: $2 (scripts/package --check builds it)"; return; }
    format=$("$1" -f "$2" | sed -n 's/.*file format //p')
    [ "$format" = "$3" ] || fail "$2 is $format, not $3"
}

case $what in
contents)
    archive=$1 list=$2
    [ -f "$archive" ] || { echo "no archive $archive: run scripts/package"; exit 1; }
    name=$(basename "$archive" .zip)
    entries=$(unzip -Z1 "$archive" | grep -v '/$')
    outside=$(printf '%s\n' "$entries" | grep -v "^$name/" || true)
    [ -z "$outside" ] || fail "outside the folder $name/: $outside"
    got=$(printf '%s\n' "$entries" | sed "s|^$name/||" | LC_ALL=C sort)
    want=$(LC_ALL=C sort "$list")
    missing=$(printf '%s\n' "$want" | grep -vxF "$got" || true)
    extra=$(printf '%s\n' "$got" | grep -vxF "$want" || true)
    [ -z "$missing" ] || fail "missing from the archive:
$missing"
    [ -z "$extra" ] || fail "in the archive, not in the list:
$extra"
    echo "$name.zip: $(printf '%s\n' "$got" | grep -c .) files, $(stat -c %s "$archive") bytes"
    ;;
binaries)
    kit=$1 objdump32=$2 objdump64=$3 tables=$4
    for file in bin/lumetta.exe bin/lumetta-legacy.exe bin/brannic.exe bin/Brannic.dll; do
        format_is "$objdump32" "$kit/$file" pei-i386
    done
    format_is "$objdump64" "$kit/bin/x64/Brannic.dll" pei-x86-64
    sh "$tables" "$objdump32" "$kit/bin/Brannic.dll" exports "$kit/include/Brannic.h" || status=1
    sh "$tables" "$objdump64" "$kit/bin/x64/Brannic.dll" exports "$kit/include/Brannic.h" || status=1
    sh "$tables" "$objdump32" "$kit/bin/Brannic.dll" dlls KERNEL32.dll ADVAPI32.dll || status=1
    sh "$tables" "$objdump64" "$kit/bin/x64/Brannic.dll" dlls KERNEL32.dll ADVAPI32.dll || status=1
    sh "$tables" "$objdump32" "$kit/bin/brannic.exe" dlls KERNEL32.dll msvcrt.dll Brannic.dll ||
        status=1
    ;;
examples)
    imports=$1 objdump32=$2 objdump64=$3 check32=$4 check64=$5
    for kind in mingw msvc; do
        for arch in 32 64; do
            if [ $arch = 32 ]; then
                objdump=$objdump32 exe=$check32/$kind/brannic_example.exe format=pei-i386
            else
                objdump=$objdump64 exe=$check64/$kind/brannic_example.exe format=pei-x86-64
            fi
            format_is "$objdump" "$exe" $format
            [ -f "$exe" ] || continue
            sh "$imports" "$objdump" "$exe" functions Brannic.dll \
                Brannic_DeInitEx Brannic_InitExA Brannic_InputByteValue || status=1
        done
    done
    ;;
checksums)
    kit=$1 archive=$2
    listed=$(sed 's/^[0-9a-f]\{64\}  //' "$kit/SHA256SUMS" | LC_ALL=C sort)
    present=$(cd "$kit" && find . -type f ! -path ./SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort)
    [ "$listed" = "$present" ] || fail "SHA256SUMS lists:
$listed
the kit holds:
$present"
    (cd "$kit" && sha256sum --quiet -c SHA256SUMS) || fail "the kit's SHA256SUMS does not match its files"
    (cd "$(dirname "$archive")" && sha256sum --quiet -c SHA256SUMS) ||
        fail "SHA256SUMS beside $(basename "$archive") does not match it"
    echo "SHA256SUMS: $(grep -c . "$kit/SHA256SUMS") files of the kit, and the archive"
    ;;
link-times)
    kit=$1 time_file=$2
    want=$(cat "$time_file")
    for file in bin/lumetta.exe bin/lumetta-legacy.exe bin/brannic.exe bin/Brannic.dll \
                bin/x64/Brannic.dll; do
        # The PE header starts where the long at 0x3C says; its time stamp is 8 bytes in.
        header=$(od -An -tu4 -j60 -N4 "$kit/$file" | tr -d ' ')
        stamp=$(od -An -tu4 -j$((header + 8)) -N4 "$kit/$file" | tr -d ' ')
        [ "$stamp" = "$want" ] || fail "$file was linked at $stamp, not the release's time $want"
    done
    echo "link time stamps: $want ($(date -u -d "@$want" '+%Y-%m-%d %H:%M:%S UTC'))"
    ;;
*)
    echo "unknown check: $what" >&2
    exit 2
    ;;
esac
exit $status
