# Shared by scripts/test, scripts/demo and scripts/bench: install, configure and build.
# BUILD_DIR (default build/) holds the 32-bit deliverables in bin/; BUILD_DIR/x64 holds the
# 64-bit twin of the same sources. HOST_RUN_DIR is the tree this host runs programs from: the
# 32-bit one where the host executes 32-bit code, else the 64-bit one.
top=$(cd "$(dirname "$0")/.." && pwd)
BUILD_DIR=${BUILD_DIR:-$top/build}
case $BUILD_DIR in /*) ;; *) BUILD_DIR=$top/$BUILD_DIR ;; esac
jobs=$(nproc)

runs_32bit() { /usr/lib/wine/wine --version >/dev/null 2>&1; }

configure_and_build() {   # folder, toolchain
    if [ ! -f "$1/CMakeCache.txt" ]; then
        cmake -S "$top" -B "$1" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchain-$2.cmake" \
              -DCMAKE_BUILD_TYPE=Release >/dev/null
    fi
    cmake --build "$1" -j "$jobs" -- --no-print-directory >/dev/null 2>"$1/build-errors.log" || { cat "$1/build-errors.log" >&2; return 1; }
}

prepare() {
    [ "$(id -u)" = 0 ] && "$top/scripts/bootstrap"
    configure_and_build "$BUILD_DIR" i686
    configure_and_build "$BUILD_DIR/x64" x86_64
    if runs_32bit; then HOST_RUN_DIR=$BUILD_DIR; else HOST_RUN_DIR=$BUILD_DIR/x64; fi
}

elapsed() { echo "$(($(date +%s) - $1)) s"; }

# After prepare: CPack packs both trees' install rules into one ZIP named with the project's
# version, in BUILD_DIR. With --check the archive is unpacked and the example host built from
# it alone, where the tests look for it. write_archive [--check]
write_archive() {
    name=$(sed -n 's/^set(CPACK_PACKAGE_FILE_NAME "\(.*\)")$/\1/p' "$BUILD_DIR/CPackConfig.cmake")
    archive=$BUILD_DIR/$name.zip
    rm -f "$archive"
    (cd "$BUILD_DIR" && cpack -G ZIP >"$BUILD_DIR/cpack.log" 2>&1) ||
        { cat "$BUILD_DIR/cpack.log" >&2; return 1; }
    echo "$archive: $(stat -c %s "$archive") bytes"
    if [ "${1:-}" = --check ]; then
        sh "$top/tests/package/build_examples.sh" "$archive" "$BUILD_DIR" "$BUILD_DIR/x64"
    fi
}

# Runs CTest over a 32-bit build tree inside the emulated guest (scripts/guest-image): the
# source and build trees are copied into the guest at their own absolute paths, so CTest's
# files and the Wine runner stay valid, and run from the guest's disk (programs mapped from
# the host's shared folder can get wrong pages). ctest_in_guest BUILD [CTEST ARGUMENTS]
ctest_in_guest() {
    build=$1; shift
    guest_started=$(date +%s)
    image=$("$top/scripts/guest-image") || return 1
    echo "guest ready after $(elapsed "$guest_started")"
    job=$build/guest-job
    rm -rf "$job"
    mkdir -p "$job"
    trees="${top#/}"
    case $build in "$top"/*) ;; *) trees="$trees ${build#/}" ;; esac
    # What the guest does not run stays behind: objects, other trees, the host's prefix.
    tar -C / -cf "$job/tree.tar" --exclude-vcs --exclude=CMakeFiles --exclude='*.o' \
        --exclude="${build#/}/x64" --exclude="${build#/}/googletest" \
        --exclude="${build#/}/wineprefix" --exclude="${build#/}/guest-job" \
        --exclude="${top#/}/build-*" $trees
    printf '%s\n' "$@" >"$job/ctest-arguments"
    cat >"$job/job.sh" <<JOB
set -u
tar -C / -xf /job/tree.tar
set --
while IFS= read -r argument; do [ -n "\$argument" ] && set -- "\$@" "\$argument"; done </job/ctest-arguments
export LUMETTA_WINEPREFIX_TEMPLATE=/opt/wineprefix-win32 WINEDLLOVERRIDES=mscoree,mshtml=
cd "$build"
ctest -LE pe --output-on-failure -j2 "\$@"
status=\$?
"$top/scripts/wine-run" --stop "$build"
cp Testing/Temporary/LastTest.log /job/ 2>/dev/null
exit \$status
JOB
    guest_status=0
    "$top/scripts/guest-run" --image "$image" "$job" || guest_status=$?
    echo "guest run: $(elapsed "$guest_started") in all (tree copied in: $(du -h "$job/tree.tar" | cut -f1))"
    return $guest_status
}
