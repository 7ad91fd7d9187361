#!/usr/bin/env bash
# samba-dc.sh - a throw-away Samba Active Directory domain controller on a
# loopback address, seeded with a small school domain, for the directory tests
# and for trying the update wizard without a real domain.
#
# All state lives in one folder given by the caller (DC_DIR); nothing under /etc
# is written. The DC serves LDAP, Kerberos (KDC) and SMB (share homes$ on
# $DC_DIR/homes with NT ACLs in xattrs, winbindd for the id mapping).
#
#   DC_DIR=/path samba-dc.sh setup    stop any server left in DC_DIR by an earlier run, then
#                                     provision a fresh domain, start, seed, get tickets and
#                                     write DC_DIR/env (KEY=VALUE lines for the clients)
#   DC_DIR=/path samba-dc.sh stop     stop the server of DC_DIR by its PIDs (never by name)
#   DC_DIR=/path samba-dc.sh status   exit 0 while it runs
#   DC_DIR=/path samba-dc.sh exports  print DC_DIR/env as shell exports:
#                                     eval "$(DC_DIR=/path scripts/directory/samba-dc.sh exports)"
#
# The CTest fixture "samba_dc" (tests/fixtures) runs setup and stop with
# DC_DIR=<build>/samba-dc; tests load <build>/samba-dc/env (tests/support/SambaDc.h).
#
# What a client gets (DC_DIR/env): KRB5_CONFIG (private krb5.conf, KDC on the
# loopback address, no DNS), KRB5CCNAME (a ticket of the domain Administrator),
# LDAPCONF (URI, BASE, SASL_MECH GSSAPI, SASL_NOCANON, REFERRALS off), so that
# "ldapsearch -Y GSSAPI -b '' -s base" needs no other option; DC_KRB5CCNAME_STAFF
# (ticket of the non-admin t.brown); the SMB side: SMB_CONF_PATH, DC_SMB_SERVER,
# DC_SMB_SHARE, DC_HOMES_UNC, DC_HOMES_DIR, NSS_WRAPPER_HOSTS and DC_NSS_WRAPPER_SO
# (Kerberos over SMB needs the server's name, which resolves to the loopback
# address only through nss_wrapper: a client preloads DC_NSS_WRAPPER_SO itself).
#
# The seeded domain (realm SCHOOL.LOCAL, NetBIOS SCHOOL, base DC=school,DC=local):
#   CN=Users               built-in: Administrator, Guest, krbtgt, groups; it.support,
#                          jbloggs, asmith, group "School Admins" (home folders on homes$)
#   OU=Domain Controllers  built-in: DC1
#   OU=Staff               t.brown, s.green, k.white; contact "Pat Parent"
#   |- OU=Year7            y7.tutor            (same name as the Students' Year7)
#   OU=Students            x.exchange
#   |- OU=Year7            y7.adams, y7.baker, y7.clark; computer LAB7-PC01
#   |  `- OU=Form7A        y7a.lee, y7a.moss
#   `- OU=Year8            y8.davis, y8.evans
#
# Settings: DC_DIR (required), DC_ADDR (default: a 127.x.y.z address derived
# from DC_DIR, so two build folders never share the fixed LDAP/KDC/SMB ports),
# DC_START_TIMEOUT (60 s), DC_MAX_RUNTIME (Samba ends itself after it, 3 h).
# Needs root and the packages of scripts/install-deps.sh test.
set -euo pipefail

: "${DC_DIR:?set DC_DIR to the folder for the domain state}"
DC_DIR=$(realpath -m "$DC_DIR")
: "${DC_REALM:=SCHOOL.LOCAL}"
: "${DC_DOMAIN:=SCHOOL}"
: "${DC_HOST:=dc1}"
: "${DC_ADMIN_PASS:=Passw0rd!School}"
: "${DC_USER_PASS:=Sch00l!Pass}"
: "${DC_START_TIMEOUT:=60}"
: "${DC_MAX_RUNTIME:=10800}"
: "${DC_SHARE:=homes\$}"
if [ -z "${DC_ADDR:-}" ]; then
  h=$(printf '%s' "$DC_DIR" | cksum | cut -d' ' -f1)
  DC_ADDR="127.77.$((h % 200 + 20)).$(((h / 200) % 250 + 2))"
fi
case "$DC_ADDR" in 127.*.*.*) ;; *) echo "samba-dc: DC_ADDR must be 127.x.y.z" >&2; exit 2 ;; esac

HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
CONF="$DC_DIR/etc/smb.conf"
PIDFILE="$DC_DIR/run/samba.pid"
LOG="$DC_DIR/log/samba.log"
CLIENT="$DC_DIR/client"
HOMES="$DC_DIR/homes"
REALM_LC=$(echo "$DC_REALM" | tr '[:upper:]' '[:lower:]')
BASE_DN=$(echo "$REALM_LC" | sed 's/^/DC=/; s/\./,DC=/g')
NSS_WRAPPER_SO=$(ls /usr/lib/*/libnss_wrapper.so 2>/dev/null | head -1 || true)

log() { echo "samba-dc: $*" >&2; }
now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN{printf "%.1f", b-a}'; }

# PIDs of Samba processes that belong to this DC_DIR: their command line names
# our smb.conf (the root "samba -s CONF", smbd/winbindd "--configfile=CONF") or
# they are workers in the session of such a process. Matched by PID, never by name.
our_pids() {
  local p cmd sids=""
  for p in $(ps -e -o pid=); do
    cmd=$( { tr '\0' ' ' < "/proc/$p/cmdline"; } 2>/dev/null || true)
    case "$cmd" in *"$CONF"*) echo "$p"; sids="$sids $(ps -o sid= -p "$p" 2>/dev/null | tr -d ' ')" ;; esac
  done
  [ -n "$sids" ] || return 0
  ps -e -o pid=,sid=,comm= | awk -v s="$sids" 'BEGIN{n=split(s,a," "); for(i=1;i<=n;i++) ok[a[i]]=1}
    ($2 in ok) && ($3 ~ /^(samba|smbd|winbindd|samba-dcerpcd|rpcd_)/) {print $1}'
}

cmd_stop() {
  local t0 pids i p root=""
  t0=$(now)
  [ -s "$PIDFILE" ] && root=$(cat "$PIDFILE")
  if [ -n "$root" ] && grep -q '^samba' "/proc/$root/comm" 2>/dev/null; then kill -TERM "$root" 2>/dev/null || true; fi
  for i in $(seq 1 60); do
    pids=$(our_pids | sort -u)
    [ -z "$pids" ] && break
    # Workers that outlive the root (as after a failed start) ignore SIGTERM
    # for a while: TERM after 2 s, KILL after 4 s.
    [ "$i" = 20 ] && for p in $pids; do kill -TERM "$p" 2>/dev/null || true; done
    [ "$i" -ge 40 ] && for p in $pids; do kill -KILL "$p" 2>/dev/null || true; done
    sleep 0.1
  done
  rm -f "$PIDFILE"
  log "stopped ($DC_DIR) in $(since "$t0") s"
}

running() { [ -s "$PIDFILE" ] && grep -q '^samba' "/proc/$(cat "$PIDFILE")/comm" 2>/dev/null; }

ports_in_use() {
  ss -Hltun '( sport = :389 or sport = :636 or sport = :3268 or sport = :3269 or sport = :88 or sport = :464 or sport = :445 )' \
    | awk '{print $5}' | grep -E "^(${DC_ADDR//./\\.}|0\.0\.0\.0|\*|\[::\]):" || true
}

provision() {
  local t0; t0=$(now)
  # -s /dev/null keeps the machine's smb.conf out; --targetdir keeps /etc untouched.
  samba-tool domain provision -s /dev/null --targetdir="$DC_DIR" \
    --realm="$DC_REALM" --domain="$DC_DOMAIN" --server-role=dc \
    --dns-backend=SAMBA_INTERNAL --host-name="$DC_HOST" \
    --adminpass="$DC_ADMIN_PASS" > "$DC_DIR/provision.log" 2>&1 \
    || { tail -20 "$DC_DIR/provision.log" >&2; log "provision failed"; exit 1; }
  # Drop what names the host (its resolver) or would listen everywhere, then add ours.
  sed -i -E '/^[ \t]*(interfaces|bind interfaces only|dns forwarder|server services)[ \t]*=/d' "$CONF"
  local block
  block="	interfaces = $DC_ADDR/8
	bind interfaces only = yes
	server services = ldap, kdc, rpc, s3fs, winbindd
	pid directory = $DC_DIR/run
	ncalrpc dir = $DC_DIR/run/ncalrpc
	winbindd socket directory = $DC_DIR/run/winbindd
	ntp signd socket directory = $DC_DIR/run/ntp_signd
	log file = $LOG
	logging = file
	max log size = 0
	log level = 1
	smb ports = 445
	disable netbios = yes"
  awk -v block="$block" '{print} /^\[global\]/{print block}' "$CONF" > "$CONF.tmp" && mv "$CONF.tmp" "$CONF"
  # The share for home folders: NT ACLs kept in the security.NTACL xattr.
  mkdir -p "$HOMES"
  cat >> "$CONF" <<EOF

[$DC_SHARE]
	path = $HOMES
	read only = no
	browseable = no
	vfs objects = dfs_samba4 acl_xattr
	map acl inherit = yes
	store dos attributes = yes
EOF
  log "provisioned $DC_REALM in $(since "$t0") s"
}

write_client_files() {
  mkdir -p "$CLIENT/smbclient-state"
  # One krb5.conf for the clients and for Samba itself: KDC on our address, no DNS,
  # no reverse lookups, so the service principal asked for is ldap/$DC_ADDR.
  cat > "$CLIENT/krb5.conf" <<EOF
[libdefaults]
	default_realm = $DC_REALM
	dns_lookup_realm = false
	dns_lookup_kdc = false
	rdns = false
	dns_canonicalize_hostname = false
	qualify_shortname = ""
	default_ccache_name = FILE:$CLIENT/krb5cc
[realms]
	$DC_REALM = {
		kdc = $DC_ADDR:88
		kpasswd_server = $DC_ADDR:464
		default_domain = $REALM_LC
	}
[domain_realm]
	.$REALM_LC = $DC_REALM
	$REALM_LC = $DC_REALM
	$DC_ADDR = $DC_REALM
EOF
  cat > "$CLIENT/ldap.conf" <<EOF
URI	ldap://$DC_ADDR
BASE	$BASE_DN
SASL_MECH	GSSAPI
SASL_NOCANON	on
REFERRALS	off
EOF
  cat > "$CLIENT/smb.conf" <<EOF
[global]
	workgroup = $DC_DOMAIN
	realm = $DC_REALM
	security = ads
	client min protocol = SMB2_10
	name resolve order = host
	lock directory = $CLIENT/smbclient-state
	state directory = $CLIENT/smbclient-state
	cache directory = $CLIENT/smbclient-state
	private dir = $CLIENT/smbclient-state
	log file = $CLIENT/smbclient.log
	max log size = 0
EOF
  printf '%s %s.%s %s\n' "$DC_ADDR" "$DC_HOST" "$REALM_LC" "$DC_HOST" > "$CLIENT/hosts"
  mkdir -p "$DC_DIR/nss"
  cp /etc/passwd "$DC_DIR/nss/passwd"
  cp /etc/group "$DC_DIR/nss/group"
}

start_server() {
  [ -n "$NSS_WRAPPER_SO" ] || { log "libnss_wrapper.so missing (scripts/install-deps.sh test)"; exit 1; }
  mkdir -p "$DC_DIR/run" "$DC_DIR/log"
  rm -f "$PIDFILE"
  local t0; t0=$(now)
  # smbd finds winbindd's socket outside /run/samba only under nss_wrapper;
  # Samba's own Kerberos library reads our krb5.conf, never /etc/krb5.conf.
  env -u KRB5CCNAME KRB5_CONFIG="$CLIENT/krb5.conf" LD_PRELOAD="$NSS_WRAPPER_SO" \
    NSS_WRAPPER_PASSWD="$DC_DIR/nss/passwd" NSS_WRAPPER_GROUP="$DC_DIR/nss/group" \
    SELFTEST_WINBINDD_SOCKET_DIR="$DC_DIR/run/winbindd" \
    samba -s "$CONF" -D --maximum-runtime="$DC_MAX_RUNTIME"
  local deadline=$(( $(date +%s) + DC_START_TIMEOUT ))
  until ldapsearch -x -LLL -o nettimeout=2 -H "ldap://$DC_ADDR" -s base -b '' defaultNamingContext 2>/dev/null \
          | grep -qi "^defaultNamingContext: $BASE_DN\$" \
        && ss -Hltn '( sport = :88 )' | awk '{print $4}' | grep -qx "${DC_ADDR//./\\.}:88" \
        && ss -Hltn '( sport = :445 )' | awk '{print $4}' | grep -qx "${DC_ADDR//./\\.}:445"; do
    if [ "$(date +%s)" -ge "$deadline" ] || { [ -s "$PIDFILE" ] && ! running; }; then
      log "the server did not come up; last log lines:"; tail -30 "$LOG" >&2 || true
      cmd_stop; exit 1
    fi
    sleep 0.1
  done
  log "started (pid $(cat "$PIDFILE")) on $DC_ADDR in $(since "$t0") s"
}

# kinit PRINCIPAL PASSWORD CCACHE: the password goes on stdin, never on a command line.
get_ticket() {
  rm -f "$3"
  printf '%s\n' "$2" | KRB5_CONFIG="$CLIENT/krb5.conf" KRB5CCNAME="FILE:$3" kinit -l 10h "$1" \
    > "$CLIENT/kinit.log" 2>&1 || { cat "$CLIENT/kinit.log" >&2; log "kinit $1 failed"; exit 1; }
}

seed() {
  local t0; t0=$(now)
  KRB5_CONFIG="$CLIENT/krb5.conf" DC_CONF="$CONF" DC_ADDR="$DC_ADDR" DC_ADMIN_PASS="$DC_ADMIN_PASS" \
    DC_USER_PASS="$DC_USER_PASS" DC_BASE_DN="$BASE_DN" DC_HOST="$DC_HOST" bash "$HERE/seed.sh"
  log "seeded in $(since "$t0") s"
}

# Home folders on the share, made over SMB with the Administrator's ticket as an
# admin's migration would, plus one folder written straight to disk.
seed_homes() {
  local smbenv=(env KRB5_CONFIG="$CLIENT/krb5.conf" KRB5CCNAME="FILE:$CLIENT/krb5cc"
                LD_PRELOAD="$NSS_WRAPPER_SO" NSS_WRAPPER_HOSTS="$CLIENT/hosts")
  local cs=(-s "$CLIENT/smb.conf" --use-kerberos=required -N)
  local unc="//$DC_HOST.$REALM_LC/$DC_SHARE"
  "${smbenv[@]}" smbcacls "${cs[@]}" "$unc" '' --set \
    "ACL:BUILTIN\\Administrators:ALLOWED/OI|CI/FULL,ACL:NT AUTHORITY\\SYSTEM:ALLOWED/OI|CI/FULL,ACL:CREATOR OWNER:ALLOWED/OI|CI|IO/FULL,ACL:$DC_DOMAIN\\Domain Users:ALLOWED/0x0/0x001200a0" \
    > "$DC_DIR/log/homes.log" 2>&1 || { cat "$DC_DIR/log/homes.log" >&2; log "share ACL failed"; exit 1; }
  printf 'essay\n' > "$DC_DIR/essay.txt"
  local h
  for h in jbloggs asmith; do
    "${smbenv[@]}" smbclient "${cs[@]}" "$unc" \
      -c "mkdir $h; cd $h; mkdir Documents; mkdir Pictures; put $DC_DIR/essay.txt Documents\\essay.txt; put $DC_DIR/essay.txt readme.txt" \
      >> "$DC_DIR/log/homes.log" 2>&1 || { cat "$DC_DIR/log/homes.log" >&2; log "home folder $h failed"; exit 1; }
  done
  mkdir -p "$HOMES/jbloggs/Pictures/Trip"
  printf 'img\n' > "$HOMES/jbloggs/Pictures/Trip/photo.jpg"
}

write_env() {
  cat > "$DC_DIR/env.tmp" <<EOF
KRB5_CONFIG=$CLIENT/krb5.conf
KRB5CCNAME=FILE:$CLIENT/krb5cc
LDAPCONF=$CLIENT/ldap.conf
DC_DIR=$DC_DIR
DC_ADDR=$DC_ADDR
DC_LDAP_URI=ldap://$DC_ADDR
DC_BASE_DN=$BASE_DN
DC_REALM=$DC_REALM
DC_DOMAIN=$DC_DOMAIN
DC_KRB5_PRINCIPAL=Administrator@$DC_REALM
DC_KRB5CCNAME_STAFF=FILE:$CLIENT/krb5cc.t.brown
DC_PID=$(cat "$PIDFILE")
SMB_CONF_PATH=$CLIENT/smb.conf
DC_SMB_SERVER=$DC_HOST.$REALM_LC
DC_SMB_SHARE=//$DC_HOST.$REALM_LC/$DC_SHARE
DC_HOMES_UNC=\\\\$DC_HOST.$REALM_LC\\$DC_SHARE
DC_HOMES_DIR=$HOMES
DC_ADMIN_GROUP=School Admins
DC_ADMIN_PASS=$DC_ADMIN_PASS
NSS_WRAPPER_HOSTS=$CLIENT/hosts
DC_NSS_WRAPPER_SO=$NSS_WRAPPER_SO
EOF
  mv "$DC_DIR/env.tmp" "$DC_DIR/env"
}

cmd_setup() {
  [ "$(id -u)" = 0 ] || { log "Samba's DC needs root"; exit 1; }
  command -v samba >/dev/null || { log "samba missing (scripts/install-deps.sh test)"; exit 1; }
  local t0; t0=$(now)
  # A server left by an earlier run of this folder goes first.
  [ -d "$DC_DIR" ] && cmd_stop
  local busy; busy=$(ports_in_use)
  if [ -n "$busy" ]; then log "ports on $DC_ADDR are taken by another server:"; echo "$busy" >&2; exit 1; fi
  rm -rf "$DC_DIR"
  mkdir -p "$DC_DIR"
  provision
  write_client_files
  start_server
  # The service principal clients ask for is ldap/<address in the URI>.
  KRB5_CONFIG="$CLIENT/krb5.conf" samba-tool spn add "ldap/$DC_ADDR" "$(echo "$DC_HOST" | tr '[:lower:]' '[:upper:]')\$" \
    -s "$CONF" -H "ldap://$DC_ADDR" -U "Administrator%$DC_ADMIN_PASS" --use-kerberos=off >/dev/null
  seed
  get_ticket "Administrator@$DC_REALM" "$DC_ADMIN_PASS" "$CLIENT/krb5cc"
  get_ticket "t.brown@$DC_REALM" "$DC_USER_PASS" "$CLIENT/krb5cc.t.brown"
  seed_homes
  # Prove the client side: a GSSAPI bind with nothing but the written configuration.
  local got
  got=$(env -u LDAPURI -u LDAPBASE -u LDAPRC KRB5_CONFIG="$CLIENT/krb5.conf" KRB5CCNAME="FILE:$CLIENT/krb5cc" \
        LDAPCONF="$CLIENT/ldap.conf" ldapsearch -Q -LLL -o nettimeout=5 -s base -b '' defaultNamingContext 2>&1 \
        | sed -n 's/^defaultNamingContext: //p')
  [ "$got" = "$BASE_DN" ] || { log "GSSAPI bind check failed: $got"; cmd_stop; exit 1; }
  write_env
  log "ready in $(since "$t0") s: env in $DC_DIR/env"
}

cmd_exports() {
  [ -f "$DC_DIR/env" ] || { log "no $DC_DIR/env (run setup)"; exit 1; }
  local k v
  while IFS='=' read -r k v; do
    printf "export %s='%s'\n" "$k" "${v//\'/\'\\\'\'}"
  done < "$DC_DIR/env"
}

case "${1:-}" in
  setup) cmd_setup ;;
  stop) cmd_stop ;;
  status) if running; then echo "running: pid $(cat "$PIDFILE") on $DC_ADDR"; else echo "not running"; exit 1; fi ;;
  exports) cmd_exports ;;
  *) sed -n '2,45p' "$0"; exit 2 ;;
esac
