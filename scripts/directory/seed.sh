#!/usr/bin/env bash
# seed.sh - the small school domain of the directory tests, made through LDAP
# by samba-tool (NTLM over the loopback address; no Kerberos, no DNS needed).
# Called by samba-dc.sh setup, which sets the variables below.
set -euo pipefail
: "${DC_CONF:?}" "${DC_ADDR:?}" "${DC_ADMIN_PASS:?}" "${DC_USER_PASS:?}" "${DC_BASE_DN:?}"

ST=(-s "$DC_CONF" -H "ldap://$DC_ADDR" -U "Administrator%$DC_ADMIN_PASS" --use-kerberos=off)

ou() { samba-tool ou create "$1" --description="$2" "${ST[@]}" >/dev/null; }
user() { # SAM GIVEN SURNAME [OU]
  local extra=()
  [ -n "${4:-}" ] && extra=(--userou="$4")
  samba-tool user create "$1" "$DC_USER_PASS" --given-name="$2" --surname="$3" \
    "${extra[@]}" "${ST[@]}" >/dev/null
}

# A failed background call fails the seed.
wait_all() {
  local p rc=0
  for p in $(jobs -p); do wait "$p" || rc=1; done
  return $rc
}

# samba-tool is a Python start-up per call: run the independent calls of each
# level side by side (parents first).
ou 'OU=Staff' 'Teaching and support staff' &
ou 'OU=Students' 'All pupils' &
wait_all
ou 'OU=Year7,OU=Staff' 'Year 7 tutors' &
ou 'OU=Year7,OU=Students' 'Year 7' &
ou 'OU=Year8,OU=Students' 'Year 8' &
wait_all
ou 'OU=Form7A,OU=Year7,OU=Students' 'Form 7A' &
user t.brown Tom Brown 'OU=Staff' &
user s.green Sara Green 'OU=Staff' &
user k.white Kim White 'OU=Staff' &
user y7.tutor Tia Tutor 'OU=Year7,OU=Staff' &
wait_all
user x.exchange Xavi Exchange 'OU=Students' &
user y7.adams Amy Adams 'OU=Year7,OU=Students' &
user y7.baker Ben Baker 'OU=Year7,OU=Students' &
user y7.clark Cara Clark 'OU=Year7,OU=Students' &
wait_all
user y7a.lee Lina Lee 'OU=Form7A,OU=Year7,OU=Students' &
user y7a.moss Max Moss 'OU=Form7A,OU=Year7,OU=Students' &
user y8.davis Dan Davis 'OU=Year8,OU=Students' &
user y8.evans Eva Evans 'OU=Year8,OU=Students' &
wait_all
user it.support Ian Support &
user jbloggs Joe Bloggs &
user asmith Ann Smith &
samba-tool computer create LAB7-PC01 --computerou='OU=Year7,OU=Students' "${ST[@]}" >/dev/null &
samba-tool contact create 'Pat Parent' --given-name=Pat --surname=Parent --ou='OU=Staff' "${ST[@]}" >/dev/null &
samba-tool group add 'School Admins' "${ST[@]}" >/dev/null &
wait_all
samba-tool group addmembers 'School Admins' it.support "${ST[@]}" >/dev/null
