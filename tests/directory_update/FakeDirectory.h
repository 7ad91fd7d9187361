#pragma once

#include "directory_update/Directory.h"

#include <QList>
#include <QMap>
#include <QSet>
#include <QStringList>

#include <memory>

// An in-memory directory for the job's rules: entries in the order they were
// added (the order a search returns them), searches by scope, the user filter
// and "(objectClass=*)", staged failures, and every write recorded.
class FakeDirectory {
public:
    struct Entry {
        QString dn;
        bool user = false;
        QMap<QString, QString> attributes; // lower-case names
    };
    QList<Entry> entries;
    QSet<QString> failSearch;   // bases whose searches fail ("a bind that fails")
    QSet<QString> failWrite;    // DNs whose writes the directory refuses
    QStringList writes;         // "dn=value" in the order written
    QString netbios = "SCHOOL"; // "" when the directory does not say
    int opened = 0;
    int sidLookups = 0;

    void container(const QString& dn) { entries.append({dn, false, {}}); }
    void user(const QString& dn, const QString& sam, const QString& home = {})
    {
        Entry e{dn, true, {}};
        if (!sam.isNull())
            e.attributes.insert("samaccountname", sam);
        if (!home.isEmpty())
            e.attributes.insert("homedirectory", home);
        entries.append(e);
    }
    Entry* find(const QString& dn)
    {
        for (Entry& e : entries)
            if (e.dn.compare(dn, Qt::CaseInsensitive) == 0)
                return &e;
        return nullptr;
    }
    QString home(const QString& dn) { return find(dn) ? find(dn)->attributes.value("homedirectory") : "<none>"; }

    // What the job opens: a handle onto this directory.
    std::unique_ptr<DirectoryAccess> open();
};

class FakeDirectoryAccess : public DirectoryAccess {
public:
    explicit FakeDirectoryAccess(FakeDirectory& d)
        : m_d(d)
    {}
    bool search(const QString& base, DirectoryScope scope, const QString& filter, const QStringList& attributes,
                const std::function<bool(const DirectoryEntry&)>& onEntry, DirectoryError& err) override
    {
        err = {};
        if (m_d.failSearch.contains(base) || !m_d.find(base))
            return fail(err, m_d.failSearch.contains(base) ? 1 : 32, base, "staged failure");
        const QString suffix = "," + base.toLower();
        for (const FakeDirectory::Entry& e : m_d.entries) {
            const QString dn = e.dn.toLower();
            const bool below = dn.endsWith(suffix);
            const bool inScope = scope == DirectoryScope::Base      ? dn == base.toLower()
                                 : scope == DirectoryScope::Subtree ? below
                                                                    : below && !dn.chopped(suffix.size()).contains(',');
            if (!inScope || (filter == DirectorySession::userFilter() && !e.user))
                continue;
            DirectoryEntry out{e.dn, attributes, {}};
            for (const QString& a : attributes)
                out.values << e.attributes.value(a.toLower());
            if (!onEntry(out))
                return true;
        }
        return true;
    }
    bool changeAttribute(const QString& dn, const QString& attribute, const QString& expected, const QString& value,
                         DirectoryError& err) override
    {
        // A missing or refused entry fails as setAttribute fails it.
        const FakeDirectory::Entry* e = m_d.find(dn);
        if (e && !m_d.failWrite.contains(dn) && e->attributes.value(attribute.toLower()) != expected)
            return fail(err, expected.isEmpty() ? 20 : 16, dn, "value differs");
        return setAttribute(dn, attribute, value, err);
    }
    bool setAttribute(const QString& dn, const QString& attribute, const QString& value, DirectoryError& err) override
    {
        FakeDirectory::Entry* e = m_d.find(dn);
        if (!e || m_d.failWrite.contains(dn))
            return fail(err, e ? 50 : 32, dn, e ? "Insufficient access" : "No such object");
        if (value.isEmpty())
            e->attributes.remove(attribute.toLower());
        else
            e->attributes.insert(attribute.toLower(), value);
        m_d.writes << dn + "=" + value;
        err = {};
        return true;
    }

    QString netbiosDomain(DirectoryError& err) override
    {
        err = {};
        if (m_d.netbios.isEmpty())
            err = {16, "no nETBIOSName", "CN=Partitions"};
        return m_d.netbios;
    }
    QString accountSid(const QString& sam, DirectoryError& err) override
    {
        err = {};
        ++m_d.sidLookups;
        for (const FakeDirectory::Entry& e : m_d.entries)
            if (e.attributes.value("samaccountname").compare(sam, Qt::CaseInsensitive) == 0 &&
                e.attributes.contains("objectsid"))
                return e.attributes.value("objectsid");
        err = {32, "no such account", sam};
        return {};
    }

private:
    static bool fail(DirectoryError& err, int code, const QString& dn, const QString& text)
    {
        err = {code, text, dn};
        return false;
    }
    FakeDirectory& m_d;
};

inline std::unique_ptr<DirectoryAccess> FakeDirectory::open()
{
    ++opened;
    return std::make_unique<FakeDirectoryAccess>(*this);
}
