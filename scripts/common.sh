# Shared by the scripts: installing packages, configuring and building, the release archive and
# the 32-bit run in the emulated guest.
# BUILD_DIR (default build/) holds the 32-bit deliverables in bin/; BUILD_DIR/x64 holds the
# 64-bit twin of the same sources. HOST_RUN_DIR is the tree this host runs programs from: the
# 32-bit one where the host executes 32-bit code, else the 64-bit one.
top=$(cd "$(dirname "$0")/.." && pwd)
BUILD_DIR=${BUILD_DIR:-$top/build}
case $BUILD_DIR in /*) ;; *) BUILD_DIR=$top/$BUILD_DIR ;; esac
jobs=$(nproc)

# How CTest runs the 32-bit build's Wine tests, natively or in the guest; the host checks
# (label host) read files on the build host and run there.
ctest_32bit_options="-LE host --output-on-failure -j2"

# Installs those of the named Debian packages that are missing (as root); quiet otherwise.
install_missing() {
    missing=""
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed' ||
            missing="$missing $package"
    done
    [ -n "$missing" ] || return 0
    echo "$(basename "$0"): installing:$missing" >&2
    apt-get update -qq >&2
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $missing >/dev/null
}

# The locales the tests run in (tests/locales.txt), and generating those that are missing (as
# root; glibc builds C.UTF-8 in): Wine maps file names outside ASCII to the host's only in a
# locale that exists. generate_locales [ROOT]: on this host, or in the system under ROOT.
test_locales() { sed -e 's/#.*//' "$top/tests/locales.txt" | awk 'NF { print $1 }'; }
generate_locales() {
    run=""
    [ -n "${1:-}" ] && run="chroot $1"
    have=$($run locale -a 2>/dev/null)
    for locale in $(test_locales); do
        # locale -a spells the charset as utf8
        printf '%s\n' "$have" | grep -qix "${locale%.UTF-8}.utf8" && continue
        echo "$(basename "$0"): generating the locale $locale" >&2
        $run localedef -i "${locale%%.*}" -f UTF-8 "$locale"
    done
}

# Whether this host executes 32-bit code; LUMETTA_32BIT=guest runs the 32-bit build in the
# emulated guest all the same, as on hosts that cannot.
runs_32bit() {
    [ "${LUMETTA_32BIT:-}" != guest ] && /usr/lib/wine/wine --version >/dev/null 2>&1
}

# Builds run as "$build_priority ...": scripts/test sets nice while the tests run.
build_priority=""

# configure_and_build FOLDER TOOLCHAIN [TARGET]: all of the tree, or the one target. Packing
# installs only what release_files built: without CMAKE_SKIP_INSTALL_ALL_DEPENDENCY it would
# build all of both trees first, the tests too.
configure_and_build() {
    if [ ! -f "$1/CMakeCache.txt" ]; then
        cmake -S "$top" -B "$1" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchain-$2.cmake" \
              -DCMAKE_BUILD_TYPE=Release -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null
    fi
    $build_priority cmake --build "$1" ${3:+--target "$3"} -j "$jobs" -- --no-print-directory \
        >/dev/null 2>"$1/build-errors.log" || { cat "$1/build-errors.log" >&2; return 1; }
}

prepare() {
    [ "$(id -u)" = 0 ] && "$top/scripts/bootstrap"
    configure_and_build "$BUILD_DIR" i686
    configure_and_build "$BUILD_DIR/x64" x86_64
    if runs_32bit; then HOST_RUN_DIR=$BUILD_DIR; else HOST_RUN_DIR=$BUILD_DIR/x64; fi
}

elapsed() { echo "$(($(date +%s) - $1)) s"; }

# After prepare: CPack packs both trees' install rules into one ZIP named with the project's
# version, in BUILD_DIR, with SHA256SUMS beside it (release/CMakeLists.txt). With --check the
# archive is unpacked and the example host built from it alone, where the tests look for it.
# write_archive [--check]
write_archive() {
    name=$(sed -n 's/^set(CPACK_PACKAGE_FILE_NAME "\(.*\)")$/\1/p' "$BUILD_DIR/CPackConfig.cmake")
    archive=$BUILD_DIR/$name.zip
    rm -f "$archive" "$BUILD_DIR/SHA256SUMS"
    (cd "$BUILD_DIR" && cpack -G ZIP >"$BUILD_DIR/cpack.log" 2>&1) ||
        { cat "$BUILD_DIR/cpack.log" >&2; return 1; }
    echo "$archive: $(stat -c %s "$archive") bytes, sha256 $(cut -d' ' -f1 "$BUILD_DIR/SHA256SUMS")"
    # README.txt names the commit as the one that rebuilds this archive; say when it does not.
    if [ -n "$(git -C "$top" status --porcelain --untracked-files=no 2>/dev/null)" ]; then
        echo "note: the sources differ from commit $(cut -d' ' -f1 "$BUILD_DIR/source_commit.txt")," \
             "which README.txt names: that commit builds another archive"
    fi
    if [ "${1:-}" = --check ]; then
        sh "$top/tests/package/build_examples.sh" "$archive" "$BUILD_DIR" "$BUILD_DIR/x64"
    fi
}

# Runs a command as nobody on a host name of its own where this runs as root, else as it is.
as_other_builder() {
    if [ "$(id -u)" = 0 ]; then
        unshare --uts sh -c 'hostname lumetta-rebuild && exec setpriv --reuid=nobody \
            --regid=nogroup --clear-groups "$@"' as-other "$@"
    else
        "$@"
    fi
}

# After write_archive: builds the release a second time and compares the archives byte for
# byte. The second build copies the sources without git into another folder (the commit and its
# time go into release/source_commit.txt, as git archive writes them) and builds only what the
# archive holds, a year later (faketime), in another time zone, locale and umask, and where this
# runs as root as another user on another host name; so a path, time, user or host name that
# reached the archive shows as a difference, which diffoscope prints (the folder is kept).
check_rebuild() {
    rebuild_started=$(date +%s)
    name=$(sed -n 's/^set(CPACK_PACKAGE_FILE_NAME "\(.*\)")$/\1/p' "$BUILD_DIR/CPackConfig.cmake")
    work=$(mktemp -d /tmp/lumetta-rebuild.XXXXXX)
    mkdir "$work/source" "$work/home"
    case $BUILD_DIR in "$top"/*) inside="./${BUILD_DIR#"$top"/}" ;; *) inside=./build ;; esac
    tar -C "$top" -cf - --exclude=./.git --exclude=./build --exclude='./build-*' \
        --exclude="$inside" . | tar -C "$work/source" -xf -
    cp "$BUILD_DIR/source_commit.txt" "$work/source/release/source_commit.txt"
    other_locale=C.UTF-8
    locale -a 2>/dev/null | grep -qx de_DE.utf8 && other_locale=de_DE.UTF-8
    [ "$(id -u)" != 0 ] || chown -R nobody:nogroup "$work"
    # Packing would build all that the trees hold (the tests too) without
    # CMAKE_SKIP_INSTALL_ALL_DEPENDENCY.
    # shellcheck disable=SC2016 # expanded by the inner shell
    build='umask 077 && cd "$WORK" && settings="-DCMAKE_BUILD_TYPE=Release
                                                -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON" &&
        cmake -S source -B build/x64 $settings \
              -DCMAKE_TOOLCHAIN_FILE="$WORK/source/cmake/toolchain-x86_64.cmake" &&
        cmake -S source -B build $settings \
              -DCMAKE_TOOLCHAIN_FILE="$WORK/source/cmake/toolchain-i686.cmake" &&
        cmake --build build/x64 --target release_files -j "$JOBS" &&
        cmake --build build --target release_files -j "$JOBS" &&
        cd build && cpack -G ZIP'
    as_other_builder env -i PATH="$PATH" HOME="$work/home" TZ='<+1345>-13:45' \
        LC_ALL="$other_locale" WORK="$work" JOBS="$jobs" $build_priority faketime -f +400d sh -c "$build" \
        >"$work/build.log" 2>&1 ||
        { tail -20 "$work/build.log"; echo "the second build of the release failed: $work/build.log"; return 1; }
    first=$BUILD_DIR/$name.zip second=$work/build/$name.zip
    varied="folder, time (+400 days), time zone, locale, umask"
    [ "$(id -u)" != 0 ] || varied="$varied, user, host name"
    if cmp -s "$first" "$second"; then
        echo "$name.zip built again with another $varied: the same bytes," \
             "sha256 $(sha256sum <"$first" | cut -d' ' -f1) ($(elapsed "$rebuild_started"))"
        rm -rf "$work"
        return 0
    fi
    echo "$name.zip built again in $work/build differs from $first:"
    diffoscope --text - --no-progress --exclude-directory-metadata yes "$first" "$second" | head -n 200
    return 1
}

# Runs CTest over a 32-bit build tree inside the emulated guest (scripts/guest-image): the
# source and build trees are copied into the guest at their own absolute paths, so CTest's
# files and the Wine runner stay valid, and run from the guest's disk (programs mapped from
# the host's shared folder can get wrong pages). ctest_in_guest BUILD [CTEST ARGUMENTS]
ctest_in_guest() {
    build=$1; shift
    guest_started=$(date +%s)
    image=$("$top/scripts/guest-image") || return 1
    if [ ! -f "$image/root.img" ] || [ ! -f "$image/vmlinuz" ] || [ ! -f "$image/initrd.gz" ]; then
        echo "scripts/guest-image printed this, which is not a guest's folder (vmlinuz," >&2
        echo "initrd.gz, root.img); it must print only that folder on standard output:" >&2
        printf '%s\n' "$image" | head -5 >&2
        return 1
    fi
    echo "guest ready after $(elapsed "$guest_started")"
    job=$build/guest-job
    rm -rf "$job"
    mkdir -p "$job"
    trees="${top#/}"
    case $build in "$top"/*) ;; *) trees="$trees ${build#/}" ;; esac
    # What the guest does not run stays behind: objects, other trees, the host's prefixes.
    tar -C / -cf "$job/tree.tar" --exclude-vcs --exclude=CMakeFiles --exclude='*.o' \
        --exclude="${build#/}/x64" --exclude="${build#/}/googletest" \
        --exclude="${build#/}/wineprefix*" --exclude="${build#/}/guest-job" \
        --exclude="${top#/}/build-*" $trees
    echo ctest >"$job/task"
    echo "$build" >"$job/build-dir"
    printf '%s\n' $ctest_32bit_options "$@" >"$job/ctest-arguments"
    guest_status=0
    "$top/scripts/guest-run" --image "$image" "$job" || guest_status=$?
    echo "guest run: $(elapsed "$guest_started") in all (tree copied in: $(du -h "$job/tree.tar" | cut -f1))"
    return $guest_status
}

# The 32-bit build's Wine tests: natively where this host executes 32-bit code, else in the
# emulated guest. run_32bit [CTEST ARGUMENTS]
run_32bit() {
    run32_started=$(date +%s)
    run32_status=0
    if runs_32bit; then
        echo "== 32-bit build, 32-bit Wine on this host"
        (cd "$BUILD_DIR" && ctest $ctest_32bit_options "$@") || run32_status=1
        "$top/scripts/wine-run" --stop "$BUILD_DIR"
    else
        echo "== 32-bit build, 32-bit Wine in the emulated x86 guest (this host runs no 32-bit code)"
        ctest_in_guest "$BUILD_DIR" "$@" || run32_status=1
    fi
    echo "32-bit run: $(elapsed "$run32_started")"
    return $run32_status
}
