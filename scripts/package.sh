#!/usr/bin/env bash
# Builds the Debian package: installs what the build and the packaging need,
# configures build-package/ (Release, no tests or benchmarks, prefix /usr)
# with the arguments given (for example the local encoder source trees),
# builds, runs CPack's DEB generator and prints the path of the .deb as its
# last line. Hardening flags come from dpkg-buildflags, as in any Debian build.
# The encoder tools are built, downloaded or named as in any build (README).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh dpkg-dev file fakeroot lintian desktop-file-utils appstream

export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CFLAGS=$(dpkg-buildflags --get CFLAGS)
CXXFLAGS=$(dpkg-buildflags --get CXXFLAGS)
LDFLAGS=$(dpkg-buildflags --get LDFLAGS)
CPPFLAGS=$(dpkg-buildflags --get CPPFLAGS)
export CFLAGS="$CFLAGS $CPPFLAGS" CXXFLAGS="$CXXFLAGS $CPPFLAGS" LDFLAGS

cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DORVEL_BUILD_TESTS=OFF -DORVEL_BUILD_BENCHMARKS=OFF "$@" >&2
cmake --build build-package -j "$(nproc 2>/dev/null || echo 2)" --target all >&2
rm -f build-package/package-output/*.deb
(cd build-package && cpack -G DEB >&2)
ls build-package/package-output/*.deb
