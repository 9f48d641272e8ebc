#!/bin/sh
# Installs every Debian 12 package the project needs to build, run and test.
# Idempotent: packages already installed are left alone and nothing is fetched then.
set -eu

PACKAGES="
build-essential cmake ninja-build pkg-config git ca-certificates
clang libclang-rt-14-dev
libgtest-dev libgmock-dev libbenchmark-dev
libtinyxml-dev libfreeimage-dev libfreeimageplus-dev libpcre3-dev
qt6-base-dev libglib2.0-dev
libcurl4-openssl-dev libzip-dev libsodium-dev uuid-dev libudev-dev
libx11-dev libxi-dev libxtst-dev libxss-dev libxkbcommon-dev libxkbcommon-x11-dev xkb-data
libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev
gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-tools
libatspi2.0-dev at-spi2-core dbus-daemon
xvfb xauth xdotool x11-xkb-utils x11-utils openbox fonts-dejavu-core
libssl-dev dovecot-core dovecot-pop3d openssl
qt6-wayland weston
dpkg-dev fakeroot lintian desktop-file-utils appstream shared-mime-info
"

missing=""
for p in $PACKAGES; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done
[ -z "$missing" ] && exit 0

if [ "$(id -u)" -eq 0 ]; then SUDO=""; else SUDO="sudo"; fi
echo "Installing:$missing"
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get update -q
# shellcheck disable=SC2086
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends $missing
