#!/usr/bin/env bash
# Builds the updater for 64-bit Windows on this Debian machine, with MinGW-w64:
#
#   tools/build-windows.sh [target...]    (no target: everything)
#
# 1. installs what the cross-build needs from Debian (install-deps.sh windows);
# 2. builds the sysroot build/windows-sysroot: libpng, libjpeg-turbo and
#    hidapi's Windows backend, static, from Debian's own source packages
#    (apt-get source), and zlib from libz-mingw-w64-dev; it is rebuilt only
#    when a source package's version changes;
# 3. with TRB_WINDOWS_TESTS=ON, builds the two Linux programs the USB tests
#    under Wine need in the Linux tree build/normal;
# 4. configures and builds build/windows with cmake/MinGW-w64-x86_64.cmake;
#    with a code-signing certificate in the environment (TRB_SIGN_PKCS12 and
#    TRB_SIGN_PASSWORD, or TRB_SIGN_CERT and TRB_SIGN_KEY; see
#    tools/sign-windows.sh) the .exe files and the installer are signed, and
#    without one a line says they are not.
#
# Nothing is downloaded from anywhere but Debian's archive.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
sysroot="$root/build/windows-sysroot"
build="$root/build/windows"
toolchain="$root/cmake/MinGW-w64-x86_64.cmake"
triplet=x86_64-w64-mingw32
jobs="$(nproc)"

"$root/tools/install-deps.sh" windows

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"

# apt-get source needs the archive's source index; Debian's own images list
# binary packages only. The sources are asked of the archive apt already uses
# for this release and its updates (its deb822 entries, or its one-line ones),
# so a machine with a mirror of its own keeps using it; the security archive
# is left out, since it does not keep every source it once had.
codename="$(. /etc/os-release && echo "${VERSION_CODENAME:-}")"
deb_src_file=/etc/apt/sources.list.d/trb-deb-src.sources
deb_src_list=/etc/apt/sources.list.d/trb-deb-src.list
source_entries() {
    local f
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -e "$f" ] && [ "$f" != "$deb_src_file" ] || continue
        awk -v release="$codename" 'BEGIN { RS = ""; ORS = "\n\n" }
            /(^|\n)Types:[^\n]*deb([ \n]|$)/ && !/Enabled: *no/ {
                if (!match($0, /Suites:[^\n]*/)) next
                n = split(substr($0, RSTART + 7, RLENGTH - 7), suites, " ")
                kept = ""
                for (k = 1; k <= n; k++)
                    if (suites[k] == release || suites[k] == release "-updates") kept = kept " " suites[k]
                if (kept == "") next
                sub(/Suites:[^\n]*/, "Suites:" kept)
                sub(/Types:[^\n]*/, "Types: deb-src")
                print }' "$f"
    done
}
source_lines() {
    local f
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -e "$f" ] && [ "$f" != "$deb_src_list" ] || continue
        awk -v release="$codename" '$1 == "deb" {
                for (k = 2; k <= NF; k++) if ($k !~ /^\[/ && $k !~ /=/ && $k !~ /\]$/) break
                if ($(k + 1) == release || $(k + 1) == release "-updates") { $1 = "deb-src"; print } }' "$f"
    done
}
write_if_changed() {
    if [ "$(cat "$2" 2>/dev/null)" != "$1" ]; then
        printf '%s\n' "$1" | $SUDO tee "$2" >/dev/null
        return 0
    fi
    return 1
}
if [ -e "$deb_src_file" ] || [ -e "$deb_src_list" ] \
    || ! apt-cache showsrc hidapi 2>/dev/null | grep -q '^Package: hidapi'; then
    changed=0
    write_if_changed "$(source_entries)" "$deb_src_file" && changed=1
    write_if_changed "$(source_lines)" "$deb_src_list" && changed=1
    if [ "$changed" = 1 ] || ! apt-cache showsrc hidapi 2>/dev/null | grep -q '^Package: hidapi'; then
        echo "Asking apt for the sources of its own archive ($codename): $deb_src_file"
        $SUDO apt-get update
    fi
fi

# The newest version of a source package apt offers.
source_version() {
    apt-cache showsrc "$1" | awk '/^Version:/ { print $2 }' | sort -V | tail -1
}

source_packages=(libpng1.6 libjpeg-turbo hidapi)
zlib_version="$(dpkg-query -W -f='${Version}' libz-mingw-w64-dev)"
wanted_stamp="zlib libz-mingw-w64-dev $zlib_version"
wanted_stamp+=$'\n'"googletest $(dpkg-query -W -f='${Version}' googletest)"
for package in "${source_packages[@]}"; do
    wanted_stamp+=$'\n'"$package $(source_version "$package")"
done
# Raised whenever build_sysroot below builds something differently.
sysroot_recipe=3
wanted_stamp+=$'\n'"recipe $sysroot_recipe"

build_sysroot() {
    local started=$SECONDS
    local work="$root/build/windows-sysroot-src"
    rm -rf "$sysroot" "$work"
    mkdir -p "$sysroot/include" "$sysroot/lib/pkgconfig" "$work"

    (cd "$work" && apt-get source --only-source -qq "${source_packages[@]}" >/dev/null)

    # zlib: Debian's MinGW build, the static library only, so that nothing
    # links its DLL.
    cp "/usr/$triplet/lib/libz.a" "$sysroot/lib/"
    cp "/usr/$triplet/include/zlib.h" "/usr/$triplet/include/zconf.h" "$sysroot/include/"
    cat >"$sysroot/lib/pkgconfig/zlib.pc" <<EOF
prefix=$sysroot
libdir=\${prefix}/lib
includedir=\${prefix}/include
Name: zlib
Description: zlib compression library (Debian's MinGW-w64 build)
Version: ${zlib_version%%-*}
Libs: -L\${libdir} -lz
Cflags: -I\${includedir}
EOF

    local cmake_cross=(-G "Unix Makefiles" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DTRB_WINDOWS_SYSROOT="$sysroot"
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$sysroot" -DBUILD_SHARED_LIBS=OFF
        -DCMAKE_C_COMPILER_LAUNCHER= -DCMAKE_CXX_COMPILER_LAUNCHER=)

    # libpng, with the zlib above; its static library links zlib itself.
    local png
    png="$(find "$work" -maxdepth 1 -type d -name 'libpng1.6-*')"
    (cd "$png" && ./configure --host="$triplet" --prefix="$sysroot" --disable-shared --enable-static \
        CC="$triplet-gcc-posix" AR="$triplet-ar" RANLIB="$triplet-ranlib" STRIP="$triplet-strip" CPPFLAGS="-I$sysroot/include" LDFLAGS="-L$sysroot/lib" >/dev/null \
        && make -j"$jobs" >/dev/null && make install >/dev/null)
    sed -i -e 's/^Requires.private:.*$//' -e 's/^Libs: \(.*\)$/Libs: \1 -lz/' "$sysroot"/lib/pkgconfig/libpng*.pc

    # libjpeg-turbo, without its SIMD parts (they need nasm and buy nothing
    # for an updater's few images). Its Windows jconfig.h declares boolean
    # only where rpcndr.h has not; the framework includes jpeglib.h inside a
    # namespace of its own after windows.h and needs it declared there too.
    local jpeg
    jpeg="$(find "$work" -maxdepth 1 -type d -name 'libjpeg-turbo-*')"
    cmake -S "$jpeg" -B "$jpeg/build-mingw" "${cmake_cross[@]}" -DENABLE_SHARED=OFF -DENABLE_STATIC=ON \
        -DWITH_SIMD=OFF -DWITH_TURBOJPEG=OFF -DWITH_JAVA=OFF >/dev/null
    cmake --build "$jpeg/build-mingw" -j"$jobs" >/dev/null
    cmake --install "$jpeg/build-mingw" >/dev/null
    # The framework reads the library's internal declarations too, which
    # Debian's own libjpeg package installs beside the public ones.
    cp "$jpeg/jpegint.h" "$sysroot/include/"
    sed -i -e '/^#ifndef __RPCNDR_H__/,/^#endif/{/^#ifndef __RPCNDR_H__/d;/^#endif/d}' "$sysroot/include/jconfig.h"
    grep -q '^typedef unsigned char boolean;' "$sysroot/include/jconfig.h"

    # hidapi's Windows backend (hid.dll through SetupAPI), static.
    local hid
    hid="$(find "$work" -maxdepth 1 -type d -name 'hidapi-*')"
    cmake -S "$hid" -B "$hid/build-mingw" "${cmake_cross[@]}" -DHIDAPI_WITH_TESTS=OFF \
        -DHIDAPI_BUILD_HIDTEST=OFF >/dev/null
    cmake --build "$hid/build-mingw" -j"$jobs" >/dev/null
    cmake --install "$hid/build-mingw" >/dev/null
    # The device library compiles hidapi's Windows backend itself (with
    # stand-ins for what Wine lacks; device/windows/HidapiBackend_windows.c),
    # so the package's sources the backend needs are kept.
    mkdir -p "$sysroot/src/$(basename "$hid")"
    cp -a "$hid/hidapi" "$hid/windows" "$hid/LICENSE"*.txt "$sysroot/src/$(basename "$hid")/"

    # GoogleTest and GoogleMock for the test programs, from the sources
    # Debian's googletest package installs.
    cmake -S /usr/src/googletest -B "$work/googletest-mingw" "${cmake_cross[@]}" -Dgtest_disable_pthreads=OFF >/dev/null
    cmake --build "$work/googletest-mingw" -j"$jobs" >/dev/null
    cmake --install "$work/googletest-mingw" >/dev/null

    rm -rf "$work"
    printf '%s\n' "$wanted_stamp" >"$sysroot/versions"
    echo "== sysroot built in $((SECONDS - started)) s"
}

if [ "$(cat "$sysroot/versions" 2>/dev/null)" != "$wanted_stamp" ]; then
    echo "== building the Windows sysroot in ${sysroot#"$root"/} from Debian's source packages"
    build_sysroot
fi

export CCACHE_BASEDIR="$root"
export CCACHE_NOHASHDIR=1
export CCACHE_DIR="${CCACHE_DIR:-$HOME/.cache/ccache}"
export CCACHE_MAXSIZE="${CCACHE_MAXSIZE:-5G}"

# The USB path tests under Wine run the Windows programs inside the umockdev
# testbed of a Linux program, the emulated controller host, and make their
# update files with the Linux make-update-file: with the tests, just those two
# are built in the Linux tree (configured as tools/test.sh does when it is
# missing; ccache shares its objects with the other trees).
usb_host_args=()
if [ "${TRB_WINDOWS_TESTS:-OFF}" = ON ]; then
    linux_build="$root/build/normal"
    echo "== windows: the Linux programs the USB tests under Wine need, in ${linux_build#"$root"/}"
    "$root/tools/install-deps.sh" test
    if [ ! -e "$linux_build/CMakeCache.txt" ]; then
        cmake -S "$root" -B "$linux_build" -DTRB_SANITIZER= -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    fi
    cmake --build "$linux_build" --parallel "$jobs" --target trb_emulated_controller_host trb_make_update_file
    usb_host_args=(-DTRB_CONTROLLER_HOST="$linux_build/tests/usb/trb_emulated_controller_host"
        -DTRB_LINUX_MAKE_UPDATE_FILE="$linux_build/tools/make-update-file")
fi

echo "== windows: configure and build in ${build#"$root"/}"
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DTRB_WINDOWS_SYSROOT="$sysroot" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTRB_BUILD_BENCHMARKS=OFF -DTRB_BUILD_TESTS="${TRB_WINDOWS_TESTS:-OFF}" \
    "${usb_host_args[@]}" >/dev/null
targets=()
for target in "$@"; do targets+=(--target "$target"); done
cmake --build "$build" --parallel "$jobs" "${targets[@]}"
