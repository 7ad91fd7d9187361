// Opening a session: the server the client configuration names, a SASL bind with the operator's credentials.
#include "DirectoryLdap.h"

#include <sasl/sasl.h>

#include <cstring>

using namespace DirectoryLdap;

namespace {

// libldap's own fallback when nothing names a server: not a configuration.
constexpr const char* kUnconfiguredUri = "ldap://localhost:389/??base";
// An unreachable server must fail, not hang; 90 s as a long query may take.
constexpr int kNetworkTimeoutSeconds = 10;
constexpr int kOperationTimeoutSeconds = 90;

// Cyrus SASL asks GSSAPI for nothing but the authorisation name: "" means
// "the identity in the ticket". Every other prompt gets its default.
extern "C" int saslInteract(LDAP*, unsigned, void*, void* in) noexcept
{
    for (auto* i = static_cast<sasl_interact_t*>(in); i && i->id != SASL_CB_LIST_END; ++i) {
        const char* answer = i->defresult ? i->defresult : "";
        i->result = answer;
        i->len = unsigned(std::strlen(answer));
    }
    return LDAP_SUCCESS;
}

// The mechanism comes from SASL_MECH when configured; GSSAPI otherwise.
QByteArray saslMechanism(LDAP* ld)
{
    QByteArray mech = "GSSAPI";
    char* configured = nullptr;
    if (ldap_get_option(ld, LDAP_OPT_X_SASL_MECH, &configured) == LDAP_OPT_SUCCESS && configured) {
        LdapString owned(configured);
        if (*configured)
            mech = configured;
    }
    return mech;
}

} // namespace

QString DirectorySession::userFilter()
{
    return QStringLiteral("(&(objectCategory=person)(objectClass=user))");
}

QString DirectorySession::configuredUri()
{
    char* uri = nullptr;
    if (ldap_get_option(nullptr, LDAP_OPT_URI, &uri) != LDAP_OPT_SUCCESS || !uri)
        return {};
    LdapString owned(uri);
    const QString text = QString::fromUtf8(uri);
    return text == QLatin1String(kUnconfiguredUri) ? QString() : text;
}

DirectorySession::DirectorySession(std::unique_ptr<Impl> impl)
    : d(std::move(impl))
{}

DirectorySession::~DirectorySession() = default;

std::unique_ptr<DirectorySession> DirectorySession::open(DirectoryError& err)
{
    err = {};
    const QString uri = configuredUri();
    if (uri.isEmpty()) {
        err.code = LDAP_PARAM_ERROR;
        err.object = QStringLiteral("ldap.conf");
        err.text = QStringLiteral("No directory configured: set URI (and BASE) in ldap.conf or ldaprc, "
                                  "or the LDAPURI environment variable.");
        return nullptr;
    }
    LDAP* raw = nullptr;
    int rc = ldap_initialize(&raw, nullptr);
    LdapPtr ld(raw);
    if (rc != LDAP_SUCCESS) {
        err = makeError(nullptr, rc, uri);
        return nullptr;
    }
    const int version = LDAP_VERSION3;
    timeval network{kNetworkTimeoutSeconds, 0};
    timeval operation{kOperationTimeoutSeconds, 0};
    // AD answers subtree searches from the domain root with references to other
    // partitions; chasing them would leave for servers found through DNS.
    if ((rc = ldap_set_option(ld.get(), LDAP_OPT_PROTOCOL_VERSION, &version)) != LDAP_OPT_SUCCESS ||
        (rc = ldap_set_option(ld.get(), LDAP_OPT_REFERRALS, LDAP_OPT_OFF)) != LDAP_OPT_SUCCESS ||
        (rc = ldap_set_option(ld.get(), LDAP_OPT_NETWORK_TIMEOUT, &network)) != LDAP_OPT_SUCCESS ||
        (rc = ldap_set_option(ld.get(), LDAP_OPT_TIMEOUT, &operation)) != LDAP_OPT_SUCCESS) {
        err = makeError(ld.get(), rc, uri);
        return nullptr;
    }
    const QByteArray mech = saslMechanism(ld.get());
    rc = ldap_sasl_interactive_bind_s(ld.get(), nullptr, mech.constData(), nullptr, nullptr, LDAP_SASL_QUIET,
                                      saslInteract, nullptr);
    if (rc != LDAP_SUCCESS) {
        err = makeError(ld.get(), rc, uri);
        return nullptr;
    }
    auto impl = std::make_unique<Impl>();
    impl->ld = std::move(ld);
    return std::unique_ptr<DirectorySession>(new DirectorySession(std::move(impl)));
}
