#include "HomePathCsv.h"

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
    return QStringLiteral("dn,sAMAccountName,oldHomeDirectory,newHomeDirectory");
}

QString planHeader()
{
    return QStringLiteral("dn,sAMAccountName,currentHomeDirectory,newHomeDirectory,unchanged,problem");
}

QStringList planFields(const HomePathUpdate::PlannedAccount& a)
{
    const bool unchanged = a.problem.isEmpty() && a.currentHome == a.newHome;
    return {a.dn, a.sam, a.currentHome, a.newHome, unchanged ? QStringLiteral("yes") : QStringLiteral("no"), a.problem};
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
        if (r.fields.size() != 4) {
            out.error = QStringLiteral("line %1: %2 fields, an undo line has 4").arg(r.line).arg(r.fields.size());
            out.plan.accounts.clear();
            return out;
        }
        if (r.fields[0].isEmpty()) {
            out.error = QStringLiteral("line %1: the dn is empty").arg(r.line);
            out.plan.accounts.clear();
            return out;
        }
        out.plan.accounts.append({r.fields[0], r.fields[1], r.fields[3], r.fields[2], QString()});
    }
    return out;
}

} // namespace HomePathCsv
