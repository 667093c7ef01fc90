#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package build/kd5lite_<version>_amd64.deb: a Release build with Debian's hardening flags in
# build-package/, then cpack. Only the four programs the package holds are built.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh package

# Fortify, stack protector, PIE and full RELRO (bindnow), as Debian's own packages are built.
export DEB_BUILD_MAINT_OPTIONS="hardening=+all"
cppflags="$(dpkg-buildflags --get CPPFLAGS)"
cxxflags="$(dpkg-buildflags --get CXXFLAGS)"
# Stack clash protection and control-flow protection (CET), which hardening-check asks for and which later dpkg
# releases add to hardening=+all themselves.
for flag in -fstack-clash-protection -fcf-protection; do
    case " $cxxflags " in *" $flag "*) ;; *) cxxflags="$cxxflags $flag" ;; esac
done
ldflags="$(dpkg-buildflags --get LDFLAGS)"

# Whoever publishes the package names themselves in its Maintainer field, KD5_MAINTAINER="Name <address>", and
# their web page in its Homepage, KD5_HOMEPAGE="https://host/corvo/kd5m/chinese/" (docs/user-guide.md, The Debian
# package). Unset, the placeholders of CMakeLists.txt and packaging/CMakeLists.txt stand.
publisher=()
[ -z "${KD5_MAINTAINER:-}" ] || publisher+=(-DKD5_MAINTAINER="$KD5_MAINTAINER")
[ -z "${KD5_HOMEPAGE:-}" ] || publisher+=(-DKD5_HOMEPAGE="$KD5_HOMEPAGE")
cmake -S . -B build-package -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr "${publisher[@]}" \
      -DKD5_BUILD_TESTS=OFF -DKD5_BUILD_BENCH=OFF -DKD5_SANITIZE=OFF \
      -DKD5_UDEV_RULES_DIR=/usr/lib/udev/rules.d -DKD5_AUTOSTART_DIR=/etc/xdg/autostart \
      -DCMAKE_POSITION_INDEPENDENT_CODE=ON \
      -DCMAKE_CXX_FLAGS="$cppflags $cxxflags" \
      -DCMAKE_EXE_LINKER_FLAGS="$ldflags" \
      -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null
cmake --build build-package -j"$(nproc)" --target kd5lite kd5lite_ap kd5lite_op kd5lite-lampsim kd5_docs

mkdir -p build
(cd build-package && cpack -G DEB -B "$PWD/../build" >/dev/null)
rm -rf build/_CPack_Packages
deb="build/kd5lite_$(sed -n 's/^project(kd5lite VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)_$(dpkg --print-architecture).deb"
[ -f "$deb" ]
echo "$deb"
