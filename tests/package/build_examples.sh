#!/bin/sh
# Unpacks the release archive and builds its example host from the unpacked kit alone, as a
# host developer would, for both architectures: with MinGW through find_package(Brannic),
# and with clang for the Microsoft ABI and lld-link against Brannic.lib. Runs on the build
# machine; the tests of each build tree check and run what it leaves in package-check/.
#   build_examples.sh ARCHIVE BUILD_DIR_32 BUILD_DIR_64
set -eu
here=$(cd "$(dirname "$0")" && pwd)
absolute() { case $1 in /*) echo "$1" ;; *) echo "$PWD/$1" ;; esac; }
archive=$(absolute "$1") tree32=$(absolute "$2") tree64=$(absolute "$3")

rm -rf "$tree32/package-check" "$tree64/package-check"
mkdir -p "$tree32/package-check" "$tree64/package-check"
unzip -q "$archive" -d "$tree32/package-check"
kit=$tree32/package-check/$(basename "$archive" .zip)

mingw_example() {   # architecture, output folder
    cmake -S "$kit/examples" -B "$2" -DCMAKE_SYSTEM_NAME=Windows -DCMAKE_SYSTEM_PROCESSOR="$1" \
          -DCMAKE_C_COMPILER="$1-w64-mingw32-gcc" -DCMAKE_PREFIX_PATH="$kit" \
          -DCMAKE_BUILD_TYPE=Release >"$2.log" 2>&1 &&
    cmake --build "$2" >>"$2.log" 2>&1 || { cat "$2.log" >&2; return 1; }
}

# Debian has no Windows SDK or Microsoft C runtime: MinGW's headers and msvcrt.dll import
# library stand in for them. Those headers want the GNU dialect and the architecture macro
# that the SDK's windows.h would set; their import libraries carry no SEH table, so 32-bit
# links go without /safeseh.
msvc_example() {   # architecture, output folder
    case $1 in
        i686) arch_macro=_X86_ lib=$kit/lib seh=/safeseh:no ;;
        x86_64) arch_macro=_AMD64_ lib=$kit/lib/x64 seh= ;;
    esac
    mkdir -p "$2"
    for source in "$kit/examples/brannic_example.c" "$here/msvc_startup.c"; do
        clang --target="$1-pc-windows-msvc" -fgnuc-version=12 -D$arch_macro \
              -D__USE_MINGW_ANSI_STDIO=0 -isystem "/usr/$1-w64-mingw32/include" -I "$kit/include" \
              -O2 -Wall -Werror -c "$source" -o "$2/$(basename "$source" .c).obj"
    done
    lld-link /nologo /subsystem:console /entry:mainCRTStartup /nodefaultlib $seh \
             /out:"$2/brannic_example.exe" "$2/brannic_example.obj" "$2/msvc_startup.obj" \
             "$lib/Brannic.lib" "/usr/$1-w64-mingw32/lib/libmsvcrt.a" \
             "/usr/$1-w64-mingw32/lib/libkernel32.a"
}

# find_package(Brannic) for a Microsoft-ABI compiler must pick that same Brannic.lib. CMake
# cannot link there without the runtime, so this only configures and reads the link rule.
msvc_package_pick() {   # architecture, kit lib folder, output folder
    cmake -S "$kit/examples" -B "$3" -DCMAKE_SYSTEM_NAME=Windows -DCMAKE_SYSTEM_PROCESSOR="$1" \
          -DCMAKE_C_COMPILER=clang -DCMAKE_C_COMPILER_TARGET="$1-pc-windows-msvc" \
          -DCMAKE_TRY_COMPILE_TARGET_TYPE=STATIC_LIBRARY -DCMAKE_PREFIX_PATH="$kit" >"$3.log" 2>&1 ||
        { cat "$3.log" >&2; return 1; }
    grep -q "^brannic_example.exe: $2/Brannic.lib\$" "$3/CMakeFiles/brannic_example.dir/build.make" ||
        { echo "find_package(Brannic) for $1-pc-windows-msvc does not link $2/Brannic.lib" >&2; return 1; }
}

mingw_example i686 "$tree32/package-check/mingw"
mingw_example x86_64 "$tree64/package-check/mingw"
msvc_example i686 "$tree32/package-check/msvc"
cp "$kit/bin/Brannic.dll" "$tree32/package-check/msvc/"
msvc_example x86_64 "$tree64/package-check/msvc"
cp "$kit/bin/x64/Brannic.dll" "$tree64/package-check/msvc/"
msvc_package_pick i686 "$kit/lib" "$tree32/package-check/msvc-cmake"
msvc_package_pick x86_64 "$kit/lib/x64" "$tree64/package-check/msvc-cmake"
echo "example host built from $(basename "$archive"): MinGW and clang/lld-link, 32- and 64-bit"
