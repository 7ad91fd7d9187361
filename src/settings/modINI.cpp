#include "modINI.h"

#include "common/SafeFileWriter.h"
#include "common/modMain.h"

#include <QByteArrayList>
#include <QFile>
#include <QFileInfo>

namespace modINI {
namespace {

// What a reader of this format has always got back: a 255-character buffer
// that includes the terminating NUL.
constexpr qsizetype kMaxValueLength = 254;

QString g_lastWriteError;

// One line of the file, split off with its own line ending so that lines we do
// not touch are written back byte for byte.
struct Line {
    QByteArray raw;
    QByteArray body() const
    {
        QByteArray b = raw;
        if (b.endsWith('\n'))
            b.chop(1);
        if (b.endsWith('\r'))
            b.chop(1);
        return b;
    }
};

QList<Line> splitLines(const QByteArray& data)
{
    QList<Line> lines;
    qsizetype start = 0;
    while (start < data.size()) {
        qsizetype end = data.indexOf('\n', start);
        end = end < 0 ? data.size() : end + 1;
        lines.append({data.mid(start, end - start)});
        start = end;
    }
    return lines;
}

// "[name]" gives name; anything else is not a section header.
bool sectionName(const QByteArray& body, QString* name)
{
    const QByteArray t = body.trimmed();
    if (!t.startsWith('['))
        return false;
    const qsizetype close = t.indexOf(']');
    if (close < 0)
        return false;
    *name = QString::fromUtf8(t.mid(1, close - 1)).trimmed();
    return true;
}

// "name=value" gives name and value, both trimmed; comments and other text are not entries.
bool entry(const QByteArray& body, QString* name, QByteArray* value)
{
    const QByteArray t = body.trimmed();
    if (t.startsWith(';') || t.startsWith('#'))
        return false;
    const qsizetype eq = t.indexOf('=');
    if (eq <= 0)
        return false;
    *name = QString::fromUtf8(t.left(eq)).trimmed();
    *value = t.mid(eq + 1).trimmed();
    return !name->isEmpty();
}

bool sameName(const QString& a, const QString& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// Where section and key sit in the file: the header line, the key line, and
// the line after the section's last non-blank line (where a new key goes).
struct Location {
    qsizetype sectionLine = -1;
    qsizetype keyLine = -1;
    qsizetype insertAt = -1;
    QByteArray value;
};

Location locate(const QList<Line>& lines, const QString& section, const QString& key)
{
    Location loc;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArray body = lines[i].body();
        QString name;
        if (sectionName(body, &name)) {
            if (loc.sectionLine >= 0)
                break; // only the first section of that name counts
            if (sameName(name, section)) {
                loc.sectionLine = i;
                loc.insertAt = i + 1;
            }
            continue;
        }
        if (loc.sectionLine < 0)
            continue;
        if (!body.trimmed().isEmpty())
            loc.insertAt = i + 1;
        QByteArray value;
        if (loc.keyLine < 0 && entry(body, &name, &value) && sameName(name, key)) {
            loc.keyLine = i;
            loc.value = value;
        }
    }
    return loc;
}

QString dropEnclosingQuotes(const QString& v)
{
    if (v.size() >= 2 && (v.front() == u'"' || v.front() == u'\'') && v.back() == v.front())
        return v.mid(1, v.size() - 2);
    return v;
}

bool fail(const QString& why)
{
    g_lastWriteError = why;
    return false;
}

// A name or value that would split into several lines, or a name that would
// read back as something else, could plant other settings in the file.
bool safeToWrite(const QString& section, const QString& key, const QString& value)
{
    auto hasBreak = [](const QString& s) {
        return s.contains(u'\n') || s.contains(u'\r') || s.contains(QChar(0));
    };
    if (hasBreak(section) || hasBreak(key) || hasBreak(value))
        return false;
    if (section.trimmed().isEmpty() || section.contains(u']'))
        return false;
    const QString k = key.trimmed();
    return !k.isEmpty() && !key.contains(u'=') && !k.startsWith(u'[') && !k.startsWith(u';') && !k.startsWith(u'#');
}

} // namespace

QString ReadINI(const QString& section, const QString& key, const QString& file)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    const QList<Line> lines = splitLines(f.readAll());
    const Location loc = locate(lines, section, key);
    if (loc.keyLine < 0)
        return QString();
    QString value = dropEnclosingQuotes(QString::fromUtf8(loc.value));
    if (value.size() > kMaxValueLength) {
        value.truncate(kMaxValueLength);
        if (value.back().isHighSurrogate())
            value.chop(1); // never hand back half a character
    }
    return value;
}

bool WriteINI(const QString& section, const QString& key, const QString& value, const QString& file)
{
    g_lastWriteError.clear();
    if (!safeToWrite(section, key, value))
        return fail(QStringLiteral("The name or value contains characters a settings file cannot hold."));

    // Write through a link to the file it points at, not over the link itself.
    QString target = file;
    const QFileInfo info(file);
    if (info.isSymLink() && info.exists())
        target = info.canonicalFilePath();

    QByteArray data;
    QFile existing(target);
    if (existing.exists()) {
        if (!existing.open(QIODevice::ReadOnly))
            return fail(existing.errorString());
        data = existing.readAll();
        existing.close();
        // A read-only settings file stays unchanged, although the rename below could replace it.
        if (!QFileInfo(target).isWritable())
            return fail(QStringLiteral("The file is read-only."));
    }

    QList<Line> lines = splitLines(data);
    const QByteArray eol = data.contains("\r\n") ? QByteArray("\r\n") : QByteArray("\n");
    const Location loc = locate(lines, section, key);
    if (loc.keyLine >= 0) {
        // Keep the key's spelling and the line's own ending; only the value changes.
        const Line& old = lines[loc.keyLine];
        QString name;
        QByteArray ignored;
        entry(old.body(), &name, &ignored);
        const QByteArray ending = old.raw.mid(old.body().size());
        lines[loc.keyLine].raw = name.toUtf8() + '=' + value.toUtf8() + (ending.isEmpty() ? eol : ending);
    } else {
        const qsizetype at = loc.sectionLine >= 0 ? loc.insertAt : lines.size();
        // The line before the new one needs an end; a last line without one keeps it so otherwise.
        if (at == lines.size() && !lines.isEmpty() && !lines.back().raw.endsWith('\n'))
            lines.back().raw += eol;
        const Line newKey{key.trimmed().toUtf8() + '=' + value.toUtf8() + eol};
        if (loc.sectionLine >= 0) {
            lines.insert(at, newKey);
        } else {
            lines.append({'[' + section.trimmed().toUtf8() + ']' + eol});
            lines.append(newKey);
        }
    }

    QByteArray out;
    for (const Line& l : std::as_const(lines))
        out += l.raw;
    QString why;
    return WriteFileAtomically(target, out, &why) || fail(why);
}

QString SettingsFile()
{
    return modMain::ApplicationFolder() + QStringLiteral("/settings/corvane.ini");
}

QString LastWriteError()
{
    return g_lastWriteError;
}

} // namespace modINI
