#!/usr/bin/env bash
# Installs, from Debian's packages, what building and running the updater
# needs, in one of three sets:
#
#   install-deps.sh demo      building and running the demo (tools/demo.sh)
#   install-deps.sh package   that, plus building the Debian package (tools/package.sh)
#   install-deps.sh windows   cross-building the Windows program (tools/build-windows.sh)
#   install-deps.sh [test]    everything the test trees need: the tests, the validators, the benchmarks,
#                             and the Windows cross-build with Wine
#
# Idempotent: it asks apt only for packages that are missing and says nothing
# when everything is there; otherwise apt's progress shows.
set -euo pipefail

# Building the program and the demo, and what the demo shows: the framework
# and GNU patch, which applies our changes to it (cmake/patches/), the X
# libraries it loads, the USB library's headers (the build configures it
# always), the JSON library of the terminal's events (header-only) and the
# fonts of the languages beyond Latin and Cyrillic.
demo_packages=(
    build-essential cmake pkg-config ccache patch
    juce-modules-source nlohmann-json3-dev
    libx11-dev libxrandr-dev libxinerama-dev libxcursor-dev libxext-dev libxcomposite-dev
    libfreetype-dev libfontconfig-dev libpng-dev libjpeg-dev
    libhidapi-dev libudev-dev libsystemd-dev
    fonts-ipafont-gothic fonts-nanum fonts-arphic-uming fonts-dejavu-core
)

# Building the Debian package: dpkg-shlibdeps and dpkg-deb.
package_packages=(
    dpkg-dev
)

# Cross-building for 64-bit Windows: the MinGW-w64 compilers (posix thread
# model), patch for the framework's changes, zlib built for it, what builds
# the other libraries from Debian's source packages (apt-get source needs
# dpkg-dev), the JSON library's headers (the build machine's copy serves: they
# hold no target code), Wine to run the tests and the program, msitools for
# the installer, and osslsigncode to sign the programs and the installer
# (openssl makes the tests' throwaway certificate).
windows_packages=(
    cmake pkg-config ccache patch juce-modules-source nlohmann-json3-dev dpkg-dev
    g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
    libz-mingw-w64-dev googletest
    wine wine64 msitools wixl zip osslsigncode openssl
)

# The test suite: GoogleTest, Google Benchmark, umockdev for the USB library,
# the private X server and the tools that drive windows in it, a private
# D-Bus with a stand-in for logind, a CPU hog for runs under load, clang for
# the fuzzers, and Debian's validators of the package.
test_packages=(
    clang
    libgtest-dev libgmock-dev libbenchmark-dev
    umockdev libumockdev-dev
    dbus python3-dbusmock
    xvfb xauth x11-utils xdotool imagemagick python3 stress-ng
    desktop-file-utils appstream lintian
)

case "${1:-test}" in
    demo)    packages=("${demo_packages[@]}") ;;
    package) packages=("${demo_packages[@]}" "${package_packages[@]}") ;;
    windows) packages=("${windows_packages[@]}") ;;
    test)    packages=("${demo_packages[@]}" "${package_packages[@]}" "${test_packages[@]}" "${windows_packages[@]}") ;;
    *) echo "usage: $0 [demo|package|windows|test]" >&2; exit 2 ;;
esac

missing=()
# shellcheck disable=SC2207
packages=($(printf '%s\n' "${packages[@]}" | sort -u))
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done

[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing ${#missing[@]} packages from Debian (with what they need): ${missing[*]}"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update
$SUDO apt-get install -y --no-install-recommends "${missing[@]}"
