#include "modINI.h"

#include "common/SafeFileWriter.h"
#include "common/modMain.h"

#include <QByteArrayList>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace modINI {
namespace {

thread_local QString g_lastWriteError;
thread_local QString g_lastReadError;

QString tooLarge()
{
    return QStringLiteral("The settings file is larger than %1 KiB, far more than two settings need; it was not read.")
        .arg(MaxFileSize / 1024);
}

// A byte-order mark that Windows editors put in front of the file; read past and written back.
const QByteArray kBom = QByteArrayLiteral("\xEF\xBB\xBF");

// One line of the file with its own line end (CR LF, LF or a lone CR), so that
// lines we do not touch are written back byte for byte.
struct Line {
    QByteArray body;
    QByteArray ending;
};

struct Content {
    bool bom = false;
    QList<Line> lines;
    QByteArray eol = QByteArrayLiteral("\n"); // the file's own line end, for lines we add
};

Content parse(const QByteArray& data)
{
    Content c;
    c.bom = data.startsWith(kBom);
    bool eolSeen = false;
    qsizetype start = c.bom ? kBom.size() : 0;
    while (start < data.size()) {
        qsizetype end = start;
        while (end < data.size() && data[end] != '\n' && data[end] != '\r')
            ++end;
        qsizetype next = end;
        if (next < data.size())
            next += (data[next] == '\r' && next + 1 < data.size() && data[next + 1] == '\n') ? 2 : 1;
        Line line{data.mid(start, end - start), data.mid(end, next - end)};
        if (!eolSeen && !line.ending.isEmpty()) {
            c.eol = line.ending;
            eolSeen = true;
        }
        c.lines.append(line);
        start = next;
    }
    return c;
}

QByteArray serialise(const Content& c)
{
    QByteArray out = c.bom ? kBom : QByteArray();
    for (const Line& l : c.lines)
        out += l.body + l.ending;
    return out;
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
        const QByteArray& body = lines[i].body;
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

// An exclusive advisory lock (flock) on the settings file for one read-modify-write.
// A save replaces the file by rename, so a writer that waited on the old file finds
// another file at the path when it wakes: it then locks that one instead. flock,
// unlike fcntl locks, also keeps two threads of one process apart.
class SettingsFileLock {
public:
    explicit SettingsFileLock(const QString& path)
        : m_path(QFile::encodeName(path))
    {
        // A writer holds the lock for milliseconds; one that hangs must not hang us.
        const QDeadlineTimer deadline(10000);
        while (m_error.isEmpty() && !tryOnce()) {
            if (deadline.hasExpired())
                m_error = QStringLiteral("Another program has been writing the file for too long.");
            else
                QThread::msleep(5);
        }
    }
    ~SettingsFileLock() { closeFd(); }
    SettingsFileLock(const SettingsFileLock&) = delete;
    SettingsFileLock& operator=(const SettingsFileLock&) = delete;

    bool locked() const { return m_fd >= 0 && m_error.isEmpty(); }
    bool createdIt() const { return m_created; }
    QString error() const { return m_error; }

    // The locked file's content, read through the locked descriptor.
    bool readAll(QByteArray* data)
    {
        QFile f;
        if (::lseek(m_fd, 0, SEEK_SET) != 0 || !f.open(m_fd, QIODevice::ReadOnly, QFileDevice::DontCloseHandle)) {
            m_error = f.errorString();
            return false;
        }
        // Read no further than the cap: a huge file must not cost its size in memory.
        *data = f.read(MaxFileSize + 1);
        if (data->size() > MaxFileSize) {
            m_error = tooLarge();
            return false;
        }
        if (f.error() != QFileDevice::NoError) {
            m_error = f.errorString();
            return false;
        }
        return true;
    }

    // Takes back the empty file made only to be locked, when the save failed.
    void removeIfCreated()
    {
        if (m_created)
            ::unlink(m_path.constData());
    }

private:
    // True when done: locked, or failed for good (m_error); false to wait and retry.
    bool tryOnce()
    {
        if (m_fd < 0 && !openFile())
            return true;
        if (::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
            if (errno == EWOULDBLOCK || errno == EINTR)
                return false;
            m_error = QStringLiteral("The file could not be locked: ") + QString::fromLocal8Bit(std::strerror(errno));
            return true;
        }
        struct stat held {
        }, now{};
        if (::fstat(m_fd, &held) == 0 && ::lstat(m_path.constData(), &now) == 0 && held.st_dev == now.st_dev &&
            held.st_ino == now.st_ino)
            return true;
        closeFd(); // replaced while we waited: lock the file that is there now
        return false;
    }

    bool openFile()
    {
        m_created = false;
        // O_NONBLOCK: a FIFO in the file's place must not hold the open.
        m_fd = ::open(m_path.constData(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (m_fd < 0 && errno == ENOENT) {
            // The first save creates the file; O_EXCL, so a file made meanwhile is not taken for ours.
            m_fd = ::open(m_path.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
            m_created = m_fd >= 0;
            if (m_fd < 0 && errno == EEXIST)
                return openFile();
        }
        if (m_fd >= 0) {
            // Reading a FIFO or a device would wait or never end, and the rename would replace it.
            struct stat st {};
            if (::fstat(m_fd, &st) == 0 && S_ISREG(st.st_mode))
                return true;
            closeFd();
            m_error = QStringLiteral("The settings file is not a regular file.");
            return false;
        }
        const int error = errno;
        m_error = error == EACCES && QFileInfo::exists(QFile::decodeName(m_path))
                      ? QStringLiteral("The file is read-only.")
                      : QString::fromLocal8Bit(std::strerror(error));
        return false;
    }

    void closeFd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

    QByteArray m_path;
    int m_fd = -1;
    bool m_created = false;
    QString m_error;
};

// The content of file, following links; false when it is missing or not a regular
// file. Opened without waiting: a FIFO in its place would hold the read until
// someone wrote to it.
bool readRegularFile(const QString& file, QByteArray* data)
{
    const int fd = ::open(QFile::encodeName(file).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    QFile f;
    bool ok =
        ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && f.open(fd, QIODevice::ReadOnly, QFileDevice::DontCloseHandle);
    if (ok && st.st_size > MaxFileSize) {
        g_lastReadError = tooLarge();
        ok = false;
    } else if (ok) {
        // The size can grow between fstat and read: the read itself stops at the cap too.
        *data = f.read(MaxFileSize + 1);
        if (data->size() > MaxFileSize) {
            g_lastReadError = tooLarge();
            data->clear();
            ok = false;
        }
    }
    f.close();
    ::close(fd);
    return ok;
}

} // namespace

QString ReadINI(const QString& section, const QString& key, const QString& file)
{
    g_lastReadError.clear();
    QByteArray data;
    if (!readRegularFile(file, &data))
        return QString();
    const Content content = parse(data);
    // Names are trimmed as the Windows rules trim them: " AdmGrp " is AdmGrp.
    const Location loc = locate(content.lines, section.trimmed(), key.trimmed());
    if (loc.keyLine < 0)
        return QString();
    QString value = dropEnclosingQuotes(QString::fromUtf8(loc.value));
    if (value.size() > MaxValueLength) {
        value.truncate(MaxValueLength);
        if (value.back().isHighSurrogate())
            value.chop(1); // never hand back half a character
    }
    return value;
}

bool WriteINI(const QString& section, const QString& key, const QString& value, const QString& file)
{
    return WriteINIValues(section, {{key, value}}, file);
}

bool WriteINIValues(const QString& section, const QList<std::pair<QString, QString>>& values, const QString& file)
{
    g_lastWriteError.clear();
    const QString sectionName = section.trimmed();
    for (const auto& [key, value] : values) {
        if (!safeToWrite(sectionName, key.trimmed(), value))
            return fail(QStringLiteral("The name or value contains characters a settings file cannot hold."));
        // A longer value would be read back cut short: a different path would be used than the one saved.
        if (value.size() > MaxValueLength)
            return fail(QStringLiteral("The value is %1 characters long; a setting can hold at most %2.")
                            .arg(value.size())
                            .arg(MaxValueLength));
    }

    // Write through a link to the file it points at, not over the link itself.
    QString target = file;
    const QFileInfo info(file);
    if (info.isSymLink() && info.exists())
        target = info.canonicalFilePath();

    // Another writer's read-modify-write in between would lose this key or theirs.
    SettingsFileLock lock(target);
    if (!lock.locked())
        return fail(lock.error());
    QByteArray data;
    if (!lock.readAll(&data))
        return fail(lock.error());
    // A read-only settings file stays unchanged, although the rename below could replace it.
    if (!lock.createdIt() && !QFileInfo(target).isWritable())
        return fail(QStringLiteral("The file is read-only."));

    Content content = parse(data);
    QList<Line>& lines = content.lines;
    for (const auto& [key, value] : values) {
        const QString keyName = key.trimmed();
        const Location loc = locate(lines, sectionName, keyName);
        if (loc.keyLine >= 0) {
            // Keep the key's spelling and the line's own ending; only the value changes.
            Line& old = lines[loc.keyLine];
            QString name;
            QByteArray ignored;
            entry(old.body, &name, &ignored);
            old.body = name.toUtf8() + '=' + value.toUtf8();
            if (old.ending.isEmpty())
                old.ending = content.eol;
        } else {
            const qsizetype at = loc.sectionLine >= 0 ? loc.insertAt : lines.size();
            // The line before the new one needs an end; a last line without one keeps it so otherwise.
            if (at == lines.size() && !lines.isEmpty() && lines.back().ending.isEmpty())
                lines.back().ending = content.eol;
            const Line newKey{keyName.toUtf8() + '=' + value.toUtf8(), content.eol};
            if (loc.sectionLine >= 0) {
                lines.insert(at, newKey);
            } else {
                lines.append({'[' + sectionName.toUtf8() + ']', content.eol});
                lines.append(newKey);
            }
        }
    }

    QString why;
    if (writeFileAtomically(target, serialise(content), &why))
        return true;
    lock.removeIfCreated();
    return fail(why);
}

QString SettingsFile()
{
    return modMain::ApplicationFolder() + QStringLiteral("/settings/corvane.ini");
}

QString LastReadError()
{
    return g_lastReadError;
}

QString LastWriteError()
{
    return g_lastWriteError;
}

} // namespace modINI
