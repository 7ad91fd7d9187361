#include "HomePathCsv.h"

#include "HomePath.h"

#include <QFile>
#include <QRegularExpression>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace HomePathCsv {
namespace {

// An undo file holds one short line per account; anything far larger is not one.
constexpr qint64 maxUndoFileBytes = 64 * 1024 * 1024;

struct Record {
    int line = 0; // where it starts, from 1
    QStringList fields;
};

// RFC 4180 records; false with error set at the first malformed one.
bool parseRecords(const QString& text, QList<Record>& records, QString& error)
{
    int line = 1;
    qsizetype i = 0;
    while (i < text.size()) {
        Record r{line, {}};
        QString field;
        for (;;) {
            if (i < text.size() && text[i] == u'"') {
                ++i;
                for (;;) {
                    if (i >= text.size()) {
                        error = QStringLiteral("line %1: a quoted field is not closed").arg(r.line);
                        return false;
                    }
                    if (text[i] == u'"' && i + 1 < text.size() && text[i + 1] == u'"') {
                        field += u'"';
                        i += 2;
                    } else if (text[i] == u'"') {
                        ++i;
                        break;
                    } else {
                        if (text[i] == u'\n')
                            ++line;
                        field += text[i++];
                    }
                }
                if (i < text.size() && text[i] != u',' && text[i] != u'\r' && text[i] != u'\n') {
                    error = QStringLiteral("line %1: text after a closing quote").arg(line);
                    return false;
                }
            } else {
                while (i < text.size() && text[i] != u',' && text[i] != u'\r' && text[i] != u'\n') {
                    if (text[i] == u'"') {
                        error = QStringLiteral("line %1: a quote inside an unquoted field").arg(line);
                        return false;
                    }
                    field += text[i++];
                }
            }
            r.fields << field;
            field.clear();
            if (i < text.size() && text[i] == u',') {
                ++i;
                continue;
            }
            break;
        }
        if (i < text.size() && text[i] == u'\r')
            ++i;
        if (i < text.size()) {
            if (text[i] != u'\n') {
                error = QStringLiteral("line %1: a carriage return without a line feed").arg(line);
                return false;
            }
            ++i;
        }
        ++line;
        records << r;
    }
    return true;
}

// The DN names an entry at or below ou: its tail is ou after a comma that no
// backslash escapes (in "CN=a\,OU=x" the comma belongs to the name).
bool isAtOrBelow(const QString& dn, const QString& ou)
{
    if (dn.compare(ou, Qt::CaseInsensitive) == 0)
        return true;
    const qsizetype comma = dn.size() - ou.size() - 1;
    if (ou.isEmpty() || comma < 1 || dn[comma] != u',' || !dn.endsWith(ou, Qt::CaseInsensitive))
        return false;
    qsizetype backslashes = 0;
    for (qsizetype i = comma - 1; i >= 0 && dn[i] == u'\\'; --i)
        ++backslashes;
    return backslashes % 2 == 0;
}

QString refuseLine(UndoRead& out, int line, const QString& why)
{
    out.plan.accounts.clear();
    out.error = QStringLiteral("line %1: ").arg(line) + why;
    return out.error;
}

} // namespace

QString line(const QStringList& fields)
{
    static const QRegularExpression special(QStringLiteral("[\",\r\n]"));
    QStringList out;
    for (QString f : fields)
        out << (f.contains(special) ? u'"' + f.replace(u'"', QStringLiteral("\"\"")) + u'"' : f);
    return out.join(u',') + QStringLiteral("\r\n");
}

QString undoHeader()
{
    return QStringLiteral("dn,sAMAccountName,oldHomeDirectory,newHomeDirectory,ou");
}

QString planHeader()
{
    return QStringLiteral("dn,sAMAccountName,currentHomeDirectory,newHomeDirectory,unchanged,problem");
}

QStringList planFields(const HomePathUpdate::PlannedAccount& a)
{
    QStringList fields{
        a.dn, a.sam, a.currentHome, a.newHome, a.unchanged() ? QStringLiteral("yes") : QStringLiteral("no"), a.problem};
    for (QString& f : fields)
        f = HomePathUpdate::printable(f);
    return fields;
}

UndoRead readUndoFile(const QString& path)
{
    UndoRead out;
    // Opened without blocking and then checked: a FIFO or a device put in the
    // file's place would otherwise block the read or never end.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        out.error = QString::fromLocal8Bit(std::strerror(errno));
        return out;
    }
    struct stat st {};
    QFile f;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || !f.open(fd, QIODevice::ReadOnly, QFile::AutoCloseHandle)) {
        ::close(fd);
        out.error = QStringLiteral("not a regular file");
        return out;
    }
    const QByteArray bytes = f.read(maxUndoFileBytes + 1);
    if (bytes.size() > maxUndoFileBytes) {
        out.error = QStringLiteral("larger than any undo file (64 MiB)");
        return out;
    }
    QList<Record> records;
    if (!parseRecords(QString::fromUtf8(bytes), records, out.error))
        return out;
    if (records.isEmpty() || records[0].fields.join(u',') != undoHeader()) {
        out.error = QStringLiteral("line 1: not an undo file (the first line must be \"%1\")").arg(undoHeader());
        return out;
    }
    for (qsizetype n = 1; n < records.size(); ++n) {
        const Record& r = records[n];
        if (r.fields.size() != 5) {
            refuseLine(out, r.line, QStringLiteral("%1 fields, an undo line has 5").arg(r.fields.size()));
            return out;
        }
        for (const QString& field : r.fields) {
            // libldap would cut a DN at a NUL: what reads as inside the OU could name another entry.
            if (HomePath::hasControls(field)) {
                refuseLine(out, r.line, QStringLiteral("a field holds a control character"));
                return out;
            }
        }
        if (r.fields[0].isEmpty() || r.fields[4].isEmpty()) {
            refuseLine(out, r.line, QStringLiteral("the dn or the ou is empty"));
            return out;
        }
        if (n == 1)
            out.plan.ou = r.fields[4];
        if (r.fields[4] != out.plan.ou) {
            refuseLine(out, r.line, QStringLiteral("another OU than the lines before it"));
            return out;
        }
        if (!isAtOrBelow(r.fields[0], out.plan.ou)) {
            refuseLine(out, r.line, QStringLiteral("the dn is not below the OU of the run, %1").arg(out.plan.ou));
            return out;
        }
        HomePathUpdate::PlannedAccount a;
        a.dn = r.fields[0];
        a.sam = r.fields[1];
        a.currentHome = r.fields[3];
        a.newHome = r.fields[2];
        out.plan.accounts.append(a);
    }
    return out;
}

} // namespace HomePathCsv
