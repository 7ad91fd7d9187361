// The directory layer: its values, the calls the home-path update makes, the session with the server.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

// What went wrong in a directory call: the LDAP result code, the library's and
// the server's text, and the object concerned. code 0 = no error.
struct DirectoryError {
    int code = 0;
    QString text;   // "Local error: SASL(-1): ... (No Kerberos credentials available ...)"
    QString object; // the DN or the operation concerned
    bool isError() const { return code != 0; }
    explicit operator bool() const { return isError(); }
};

// One child of a container, as the tree and the update see it.
struct DirectoryChild {
    QString Name;              // the relative name, e.g. "OU=Staff"
    QString DistinguishedName; // the full DN
    QString ADsPath;           // "LDAP://" + DN
};

// One entry of a search with the values of the attributes asked for (first value each).
struct DirectoryEntry {
    QString dn;
    QStringList attributes;
    // Same order as attributes; empty text when the entry lacks one. objectSid
    // comes as its S-1-... text, not as its bytes.
    QStringList values;
    QString value(const QString& attribute) const;
    bool has(const QString& attribute) const;
};

enum class DirectoryScope { Base, OneLevel, Subtree };

// A binary security identifier (objectSid) as its "S-1-5-21-..." text; "" when
// the bytes are not a well-formed SID.
QString sidText(const QByteArray& sid);
// RFC 4515: a value for a search filter with its special characters escaped.
QString filterValue(const QString& value);

// The few directory calls the home-path update makes, so its rules (order,
// failures that go on, refused names) can be checked against an in-memory
// directory. DirectorySession is the real one.
class DirectoryAccess {
public:
    virtual ~DirectoryAccess() = default;
    // Calls onEntry for each entry found; onEntry returns false to stop.
    virtual bool search(const QString& base, DirectoryScope scope, const QString& filter, const QStringList& attributes,
                        const std::function<bool(const DirectoryEntry&)>& onEntry, DirectoryError& err) = 0;
    // Sets the attribute to value ("" removes it), but only while it still holds
    // expected ("" = the entry has none): one atomic modify, so a value changed
    // by someone else in between is never overwritten. The directory refuses
    // with noSuchAttribute (16) or attributeOrValueExists (20) then.
    virtual bool changeAttribute(const QString& dn, const QString& attribute, const QString& expected,
                                 const QString& value, DirectoryError& err) = 0;
    // Sets the attribute to value ("" removes it) whatever it holds now.
    virtual bool setAttribute(const QString& dn, const QString& attribute, const QString& value,
                              DirectoryError& err) = 0;
    // The domain's NetBIOS name ("SCHOOL"), which qualifies account names for
    // the permission fix; "" with err set when the directory does not say.
    virtual QString netbiosDomain(DirectoryError& err) = 0;
    // The SID text of the account or group with this sAMAccountName anywhere in
    // the domain; "" when there is none (err says so) or the lookup fails.
    virtual QString accountSid(const QString& sam, DirectoryError& err) = 0;
};

// A session with the directory the OpenLDAP client configuration names
// (ldap.conf, ldaprc, LDAPURI/LDAPBASE): the program itself names no server and
// holds no password; it binds with SASL (GSSAPI by default: the operator's
// Kerberos ticket). Each routine opens its own session and lets it go, so an
// expired ticket shows up as a bind error rather than a dead connection.
// Referrals are never chased. Not thread-safe: one session per thread.
class DirectorySession : public DirectoryAccess {
public:
    // The account filter the count and the update share: user accounts only.
    // objectCategory=person leaves out computers, objectClass=user leaves out contacts.
    static QString userFilter();
    static constexpr int kDefaultPageSize = 1000;

    // Connects and binds. On failure the session is not open and err says why
    // ("no directory configured" when no URI is configured anywhere).
    static std::unique_ptr<DirectorySession> open(DirectoryError& err);
    ~DirectorySession() override;
    DirectorySession(const DirectorySession&) = delete;
    DirectorySession& operator=(const DirectorySession&) = delete;

    // The URI the client configuration gives, or "" when none is configured.
    static QString configuredUri();

    // Page size of every search of this session (RFC 2696 paged results).
    void setPageSize(int pageSize) { m_pageSize = pageSize > 0 ? pageSize : kDefaultPageSize; }
    int pageSize() const { return m_pageSize; }
    // Round trips (pages) of the last search, for tests of the paging.
    int lastSearchPages() const { return m_lastPages; }

    // An attribute of the RootDSE, e.g. "defaultNamingContext".
    QString readRootDse(const QString& attribute, DirectoryError& err);
    // Checks that dn names an entry the operator can read.
    bool bindEntry(const QString& dn, DirectoryError& err);
    // The direct children of dn of one class ("organizationalUnit", or "" for all).
    QList<DirectoryChild> children(const QString& dn, const QString& objectClass, DirectoryError& err);
    // The first value of an attribute of dn; empty when the entry has none.
    QString readAttribute(const QString& dn, const QString& attribute, DirectoryError& err);
    // Replaces the attribute's values by one value; stored when this returns true.
    bool writeAttribute(const QString& dn, const QString& attribute, const QString& value, DirectoryError& err);
    // Calls onEntry for each entry found, page by page; onEntry returns false to stop.
    // References (AD's pointers to other partitions) are skipped.
    bool search(const QString& base, DirectoryScope scope, const QString& filter, const QStringList& attributes,
                const std::function<bool(const DirectoryEntry&)>& onEntry, DirectoryError& err) override;
    bool changeAttribute(const QString& dn, const QString& attribute, const QString& expected, const QString& value,
                         DirectoryError& err) override;
    bool setAttribute(const QString& dn, const QString& attribute, const QString& value, DirectoryError& err) override;
    // From the domain's crossRef entry below CN=Partitions of the configuration naming context.
    QString netbiosDomain(DirectoryError& err) override;
    QString accountSid(const QString& sam, DirectoryError& err) override;
    // Number of entries a paged search finds; -1 on failure.
    qint64 count(const QString& base, DirectoryScope scope, const QString& filter, DirectoryError& err);

private:
    struct Impl;
    explicit DirectorySession(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> d;
    int m_pageSize = kDefaultPageSize;
    int m_lastPages = 0;
};
