#!/bin/sh
# Cross-builds the Win32 renderer's test program for 32 and 64 bits with
# MinGW-w64 and runs both under Wine on a virtual X display. Screenshots of
# the windows go to $SKERROW_SCREENSHOTS/<architecture>/ as BMP and PNG.
#
#   tests/render/win32/run_under_wine.sh [build-folder] [i686|x86_64 ...]
#
# With a test program already built elsewhere (the Windows cross build),
# SKERROW_WIN32_RENDER_TESTS="path/to/test_win32_render.exe ..." skips the
# build and runs those.
set -eu

root=$(cd "$(dirname "$0")/../../.." && pwd)
build=${1:-$root/build-w32render}
[ $# -gt 0 ] && shift
architectures=${*:-i686 x86_64}
mkdir -p "$build"
build=$(cd "$build" && pwd)

programs=${SKERROW_WIN32_RENDER_TESTS:-}
if [ -z "$programs" ]; then
    generator=
    command -v ninja >/dev/null 2>&1 && generator="-G Ninja"
    for arch in $architectures; do
        # shellcheck disable=SC2086
        cmake -S "$root/tests/render/win32" -B "$build/$arch" $generator \
            -DCMAKE_SYSTEM_NAME=Windows -DCMAKE_BUILD_TYPE=Debug \
            -DCMAKE_CXX_COMPILER="$arch-w64-mingw32-g++-posix" >/dev/null
        cmake --build "$build/$arch" -j2
        programs="$programs $build/$arch/test_win32_render.exe"
    done
fi

export WINEDEBUG=-all
export WINEPREFIX="${WINEPREFIX:-$build/wineprefix}"
screenshots=${SKERROW_SCREENSHOTS:-$build/screenshots}
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    timeout 300 wineboot -i >/dev/null 2>&1 || true
fi
# Wine's own Tahoma, which the dialog font maps to, when the system has it
# (Debian: fonts-wine); otherwise a wider face makes labels wrap.
if [ -d /usr/share/wine/fonts ] && [ -d "$WINEPREFIX/drive_c/windows/Fonts" ]; then
    cp -n /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
fi
# Wine draws the title bars itself: the virtual display has no window
# manager, and the screenshots should show them.
timeout 60 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1 || true
# A wineserver started without a display makes every window hang.
wineserver -k 2>/dev/null || true

status=0
for program in $programs; do
    name=$(basename "$(dirname "$program")")
    mkdir -p "$screenshots/$name"
    # Wine maps / to drive Z:.
    folder=$(printf 'Z:%s' "$(cd "$screenshots/$name" && pwd)" | tr / '\\')
    echo "== $program"
    if ! SKERROW_SCREENSHOTS="$folder" timeout 180 \
        xvfb-run -a -s "-screen 0 1280x1024x24" wine "$program"; then
        status=1
    fi
    wineserver -k 2>/dev/null || true
    if command -v convert >/dev/null 2>&1; then
        for bitmap in "$screenshots/$name"/*.bmp; do
            [ -f "$bitmap" ] && convert "$bitmap" "${bitmap%.bmp}.png"
        done
    fi
done
exit $status
