// Directory values that need no server: an entry's attribute values, SID text, filter escapes.
#include "Directory.h"

QString DirectoryEntry::value(const QString& attribute) const
{
    const qsizetype i = attributes.indexOf(attribute);
    return i >= 0 && i < values.size() ? values[i] : QString();
}

bool DirectoryEntry::has(const QString& attribute) const
{
    return !value(attribute).isEmpty();
}

QString sidText(const QByteArray& b)
{
    // revision, sub-authority count, 48-bit big-endian authority, then the
    // sub-authorities, 32-bit little-endian each.
    if (b.size() < 8 || b.size() != 8 + 4 * qsizetype(static_cast<unsigned char>(b[1])))
        return {};
    quint64 authority = 0;
    for (int i = 2; i < 8; ++i)
        authority = authority << 8 | static_cast<unsigned char>(b[i]);
    QString text = QStringLiteral("S-%1-%2").arg(static_cast<unsigned char>(b[0])).arg(authority);
    for (qsizetype i = 8; i < b.size(); i += 4) {
        quint32 sub = 0;
        for (int k = 3; k >= 0; --k)
            sub = sub << 8 | static_cast<unsigned char>(b[i + k]);
        text += QStringLiteral("-%1").arg(sub);
    }
    return text;
}

QString filterValue(const QString& value)
{
    QString out;
    for (const QChar c : value) {
        if (c == u'*' || c == u'(' || c == u')' || c == u'\\' || c.unicode() == 0)
            out += QStringLiteral("\\%1").arg(int(c.unicode()), 2, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}
