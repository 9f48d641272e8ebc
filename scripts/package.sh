#!/bin/sh
# Builds the Debian package from the checkout: a Release build in build-package/, installed
# under /usr by CPack into tessera-quadrix_<version>_amd64.deb at the top of the checkout,
# then checked with lintian (whose report is printed; it does not stop the script).
#   QX_JOBS=N  build with N jobs (default: the number of processors)
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build-package"
"$top/scripts/setup-debian.sh"

launcher=""
command -v ccache >/dev/null 2>&1 && launcher="-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache"
# Debian's hardening flags (stack protector, fortified functions, read-only relocations
# bound at start), as its own packages are built with them.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CFLAGS="$(dpkg-buildflags --get CFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
LDFLAGS="$(dpkg-buildflags --get LDFLAGS)"
export CFLAGS CXXFLAGS LDFLAGS
# shellcheck disable=SC2086
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DQX_BUILD_TESTS=OFF -DQX_BUILD_BENCH=OFF \
    -DCMAKE_C_FLAGS="$CFLAGS" -DCMAKE_CXX_FLAGS="$CXXFLAGS" -DCMAKE_EXE_LINKER_FLAGS="$LDFLAGS" \
    -DCMAKE_SHARED_LINKER_FLAGS="$LDFLAGS" -DCMAKE_MODULE_LINKER_FLAGS="$LDFLAGS" $launcher
cmake --build "$build" -j "${QX_JOBS:-$(nproc)}"
rm -f "$build"/tessera-quadrix_*_amd64.deb
(cd "$build" && cpack -G DEB)

deb=$(ls "$build"/tessera-quadrix_*_amd64.deb)
cp "$deb" "$top/"
deb="$top/$(basename "$deb")"
echo "Package: $deb"
echo "lintian:"
lintian --info "$deb" || true
echo "Install it with: sudo apt install $deb"
