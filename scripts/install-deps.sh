#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing Corvane need.
# Idempotent: when every package is already present it returns at once without
# touching apt. Runs apt-get non-interactively, so it works on a fresh machine
# as root with no terminal. Usage: scripts/install-deps.sh [build|package|test]
# (test includes package: the suite builds and checks the Debian package).
set -euo pipefail

build_pkgs=(
  cmake g++ make pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libldap-dev libsasl2-dev libacl1-dev
  fonts-liberation fonts-dejavu-core
)
test_pkgs=(
  libgtest-dev googletest clang-format
  # Qt's window-system interface: GUI tests deliver a real close-box click
  qt6-base-private-dev
  xvfb xauth
  # the throw-away Samba AD domain controller of the directory tests
  samba-ad-dc samba-ad-provision ldap-utils krb5-user libsasl2-modules-gssapi-mit
  smbclient libnss-wrapper winbind openssl iproute2 procps attr acl
  python3
  # the copy benchmark compares with rsync -a (bc does its sums, time measures
  # the peak memory); the CLI tests drop to nobody with setpriv from util-linux
  rsync bc util-linux time
  # the quick-check tests copy to a real FAT image where the kernel can mount one
  dosfstools
  # the package round trip drives the installed program's windows under Xvfb
  xdotool
)
# The Debian package: dependencies worked out by dpkg-shlibdeps, manual pages
# made from the tools' --help, and the checks of the package and its menu entry.
package_pkgs=(
  dpkg-dev help2man man-db groff-base lintian desktop-file-utils appstream
)
# The program itself runs the SMB permission fix through Samba's Python bindings
# (the corvane-smbacl helper), or through smbclient's tools when they are missing.
run_pkgs=(smbclient python3-samba)

want=("${build_pkgs[@]}" "${run_pkgs[@]}")
case "${1:-build}" in
  build) ;;
  package) want+=("${package_pkgs[@]}") ;;
  test) want+=("${package_pkgs[@]}" "${test_pkgs[@]}") ;;
  *) echo "usage: $0 [build|package|test]" >&2; exit 2 ;;
esac

missing=()
for p in "${want[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" = 0 ] || SUDO="sudo"
echo "Installing: ${missing[*]}" >&2
# Keep Debian's maintainer scripts from starting samba, smbd or winbind
# system-wide: the tests start their own server in a temporary folder.
guard=""
if [ ! -e /usr/sbin/policy-rc.d ]; then
  printf '#!/bin/sh\nexit 101\n' | $SUDO tee /usr/sbin/policy-rc.d >/dev/null
  $SUDO chmod 755 /usr/sbin/policy-rc.d
  guard=1
fi
cleanup() { [ -n "$guard" ] && $SUDO rm -f /usr/sbin/policy-rc.d; true; }
trap cleanup EXIT
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q >/dev/null
# --no-install-recommends keeps out krb5-config, whose maintainer script
# would write /etc/krb5.conf.
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}" >/dev/null
