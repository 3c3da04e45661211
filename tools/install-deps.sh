#!/usr/bin/env bash
# Installs, from Debian's packages, what building, testing and running the
# updater needs. Idempotent: it asks apt only for packages that are missing and
# says nothing when everything is there.
set -euo pipefail

packages=(
    build-essential cmake pkg-config ccache clang
    juce-modules-source
    libx11-dev libxrandr-dev libxinerama-dev libxcursor-dev libxext-dev libxcomposite-dev
    libfreetype-dev libfontconfig-dev libpng-dev libjpeg-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    libhidapi-dev libudev-dev umockdev libumockdev-dev
    libsystemd-dev dbus python3-dbusmock
    xvfb xauth x11-utils xdotool imagemagick python3 stress-ng
    fonts-ipafont-gothic fonts-nanum fonts-arphic-uming fonts-dejavu-core
)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done

[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
