// The containers below a container, as the OU tree walks them.
#include "Directory.h"

namespace {

// RFC 4514 escaping is not needed here: DNs come back from the server and go
// back as they came; only values we put into filters are escaped.
QString rdnOf(const QString& dn)
{
    qsizetype i = 0;
    for (; i < dn.size(); ++i) {
        if (dn[i] == '\\')
            ++i;
        else if (dn[i] == ',')
            break;
    }
    return dn.left(i);
}

} // namespace

QList<DirectoryChild> DirectorySession::children(const QString& dn, const QString& objectClass, DirectoryError& err)
{
    QList<DirectoryChild> out;
    const QString filter =
        objectClass.isEmpty() ? QStringLiteral("(objectClass=*)") : QStringLiteral("(objectClass=%1)").arg(objectClass);
    search(
        dn, DirectoryScope::OneLevel, filter, {},
        [&out](const DirectoryEntry& e) {
            out.append({rdnOf(e.dn), e.dn, QStringLiteral("LDAP://") + e.dn});
            return true;
        },
        err);
    return out;
}
