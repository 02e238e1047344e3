# Shared by scripts/test and scripts/demo: install, configure and build.
# BUILD_DIR (default build/) holds the 32-bit deliverables in bin/. On a machine that cannot
# execute 32-bit code (no i386 emulation in the kernel) Wine cannot run them, so the same
# sources are also built for 64-bit Windows in $BUILD_DIR/x64 and run there instead.
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
    if runs_32bit; then
        RUN_DIR=$BUILD_DIR
    else
        RUN_DIR=$BUILD_DIR/x64
        configure_and_build "$RUN_DIR" x86_64
    fi
}
