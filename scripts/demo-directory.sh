#!/usr/bin/env bash
# Tries the directory update wizard without a domain of your own: starts the
# sample school domain (a throw-away Samba AD DC on a loopback address, see
# scripts/directory/samba-dc.sh), points the program at it through a private
# ldap.conf and Kerberos ticket, and runs Corvane. The domain stops when the
# program ends. Needs root (Samba's DC) and a desktop session (or xvfb-run).
#   scripts/demo-directory.sh [state folder, default build/demo-dc]
set -euo pipefail
cd "$(dirname "$0")/.."
export DC_DIR=$(realpath -m "${1:-build/demo-dc}")
bash scripts/install-deps.sh test
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target corvane cacls
trap 'bash scripts/directory/samba-dc.sh stop' EXIT
bash scripts/directory/samba-dc.sh setup
eval "$(bash scripts/directory/samba-dc.sh exports)"
# Settings for the demo (kept if you already saved your own): the share's
# folder as the user path, the domain's "School Admins" as the admin group.
ini=build/corvane/settings/corvane.ini
if [ ! -s "$ini" ]; then
  printf '[SETTINGS]\nAdmGrp=%s\nUserPath=%s/\n' "$DC_ADMIN_GROUP" "$DC_HOMES_DIR" > "$ini"
fi
echo "Domain $DC_REALM on $DC_LDAP_URI, ticket of Administrator in $KRB5CCNAME."
echo "Open 'Update Active Directory' in the main menu; the logs go to build/corvane/logs/."
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  xvfb-run -a build/corvane/corvane
else
  build/corvane/corvane
fi
