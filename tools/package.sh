#!/usr/bin/env bash
# Builds the Debian package of the updater program:
#
#   ./tools/package.sh [--build-dir DIR] [--output-dir DIR]
#
# configures a build tree for the prefix /usr (default build/package), builds
# the program, installs it with the udev rule, the desktop entry, the icon and
# the AppStream metadata into a staging folder, takes the dependencies from
# dpkg-shlibdeps and writes trbkelo7-updater_<version>_amd64.deb into the
# output folder (default: the build tree). Prints the package's path last.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build/package"
output=""

while [ $# -gt 0 ]; do
    case "$1" in
        --build-dir) build="$2"; shift 2 ;;
        --output-dir) output="$2"; shift 2 ;;
        -h|--help) sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "package: unknown argument $1" >&2; exit 2 ;;
    esac
done
output="${output:-$build}"
build="$(realpath -m "$build")"
output="$(realpath -m "$output")"

"$root/tools/install-deps.sh" package

package="trbkelo7-updater"
export CCACHE_BASEDIR="$root"
# Debug info names the build folder; leave it out of the hash so clones and
# worktrees of the project share the cache.
export CCACHE_NOHASHDIR=1

# The distribution's compiler and linker flags, with every hardening feature on
# (stack protector, _FORTIFY_SOURCE, read-only relocations bound at start-up),
# as a package built by Debian's own tools gets them. CMake reads no CPPFLAGS,
# so they join the compiler flags. The prefix map that names the current
# folder is left out: it would keep the compiler cache from serving another
# clone. The installed program is stripped.
export DEB_BUILD_MAINT_OPTIONS="hardening=+all"
buildflags() {
    dpkg-buildflags --get "$1" | sed 's/-ffile-prefix-map=[^ ]*//g'
}
cppflags="$(buildflags CPPFLAGS)"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
    -DCMAKE_C_FLAGS="$(buildflags CFLAGS) $cppflags" \
    -DCMAKE_CXX_FLAGS="$(buildflags CXXFLAGS) $cppflags" \
    -DCMAKE_EXE_LINKER_FLAGS="$(buildflags LDFLAGS)" \
    -DTRB_BUILD_TESTS=OFF -DTRB_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build "$build" --parallel "$(nproc)" --target TRBKelo7UpdateProgram

version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")"
architecture="$(dpkg --print-architecture)"
if [ -z "$version" ]; then
    echo "package: no project version in $build/CMakeCache.txt" >&2
    exit 1
fi

work="$build/deb"
stage="$work/root"
rm -rf "$work"
mkdir -p "$stage"
DESTDIR="$stage" cmake --install "$build" --strip >/dev/null
# Debian keeps manual pages compressed.
gzip -9n "$stage/usr/share/man/man1/TRBKelo7UpdateProgram.1"

# Files a Debian package carries beside the program: the copyright, the
# changelog and the maintainer scripts.
doc="$stage/usr/share/doc/$package"
mkdir -p "$doc" "$stage/DEBIAN"
cp "$root/packaging/deb/copyright" "$doc/copyright"
sed "s/@VERSION@/$version/" "$root/packaging/deb/changelog.in" | gzip -9n >"$doc/changelog.gz"
install -m 0755 "$root/packaging/deb/postinst" "$root/packaging/deb/postrm" "$stage/DEBIAN/"

# dpkg-shlibdeps reads the package's name from a debian/control of a source
# tree; a minimal one in the work folder serves.
mkdir -p "$work/debian"
printf 'Source: %s\n\nPackage: %s\nArchitecture: any\n' "$package" "$package" >"$work/debian/control"
depends="$(cd "$work" && dpkg-shlibdeps -O -e"$stage/usr/bin/TRBKelo7UpdateProgram" 2>"$work/shlibdeps.log" \
    | sed -n 's/^shlibs:Depends=//p')"
if [ -z "$depends" ]; then
    echo "package: dpkg-shlibdeps found no dependencies:" >&2
    cat "$work/shlibdeps.log" >&2
    exit 1
fi

installed_size="$(du -sk --exclude=DEBIAN "$stage" | cut -f1)"
sed -e "s/@VERSION@/$version/" -e "s/@ARCHITECTURE@/$architecture/" \
    -e "s/@DEPENDS@/$depends/" -e "s/@INSTALLED_SIZE@/$installed_size/" \
    "$root/packaging/deb/control.in" >"$stage/DEBIAN/control"

# Every file is root's and readable by all, whatever the umask of the build.
find "$stage" -type d -exec chmod 0755 {} +
find "$stage" -type f ! -path "$stage/DEBIAN/*" ! -path "$stage/usr/bin/*" -exec chmod 0644 {} +

mkdir -p "$output"
deb="$output/${package}_${version}_${architecture}.deb"
dpkg-deb --root-owner-group -Zxz --build "$stage" "$deb" >/dev/null
echo "$deb"
