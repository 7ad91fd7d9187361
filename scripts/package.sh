#!/usr/bin/env bash
# Builds a Release build in build-package/ and makes the Debian package
# build-package/corvane_<version>_amd64.deb from it (CPack's DEB generator),
# then checks it with lintian. Installs what is missing first (as root or with
# sudo). Install the result with: sudo apt-get install ./build-package/corvane_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh package

# Debian's hardening flags (fortified functions, stack protector, RELRO, bind-now),
# as a Debian build of the package would get them.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cflags=$(dpkg-buildflags --get CFLAGS) cppflags=$(dpkg-buildflags --get CPPFLAGS)
cxxflags=$(dpkg-buildflags --get CXXFLAGS) ldflags=$(dpkg-buildflags --get LDFLAGS)
# The package's binaries are stripped: no debug information to compile.
cflags=${cflags//-g /} cxxflags=${cxxflags//-g /}
# -O2 as Debian builds; sources compiled in batches, which halves the build on two cores.
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B build-package -DCMAKE_BUILD_TYPE=Release -DCORVANE_TESTS=OFF -DCORVANE_BENCH=OFF \
  -DCORVANE_UNITY_BUILD=ON "${launcher[@]}" \
  -DCMAKE_C_FLAGS="$cppflags $cflags" -DCMAKE_CXX_FLAGS="$cppflags $cxxflags" \
  -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG" -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
  -DCMAKE_EXE_LINKER_FLAGS="$ldflags" >/dev/null
rm -f build-package/corvane_*.deb
cmake --build build-package -j"$(nproc)" --target package
deb=$(ls build-package/corvane_*.deb)

echo "== lintian"
# Errors fail the package; warnings and notes are listed.
lintian --fail-on error --display-info "$deb"
echo "== $deb"
