// Maps \\server\share paths to the mount point of that share, or refuses them.
#include "NetworkPath.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <cstring>

namespace fileop {

namespace {

bool isSeparator(QChar c)
{
    return c == u'\\' || c == u'/';
}

bool isAddress(const QString& name)
{
    static const QRegularExpression ipv4(QStringLiteral("^[0-9]+(\\.[0-9]+){3}$"));
    return name.contains(u':') || ipv4.match(name).hasMatch();
}

// mountinfo writes a space, tab, newline and backslash in a field as \ooo.
QByteArray unescapeField(const QByteArray& field)
{
    QByteArray out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const QByteArray oct = field.mid(i + 1, 3);
            bool ok = false;
            const int value = oct.toInt(&ok, 8);
            if (ok && value < 256) {
                out += char(value);
                i += 3;
                continue;
            }
        }
        out += field[i];
    }
    return out;
}

bool startsWithFolders(const QStringList& path, const QStringList& prefix)
{
    if (prefix.size() > path.size())
        return false;
    for (qsizetype i = 0; i < prefix.size(); ++i)
        if (path[i].compare(prefix[i], Qt::CaseInsensitive) != 0)
            return false;
    return true;
}

QStringList folders(const QString& path)
{
    static const QRegularExpression separators(QStringLiteral("[\\\\/]+"));
    return path.split(separators, Qt::SkipEmptyParts);
}

QString shareName(const QString& server, const QString& share)
{
    return QStringLiteral("\\\\%1\\%2").arg(server, share);
}

// Single quotes for a shell when the text holds anything but plain characters ($ in "homes$").
QString shellWord(const QString& text)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9._/@%+=:,-]+$"));
    if (plain.match(text).hasMatch())
        return text;
    return u'\'' + QString(text).replace(u'\'', QStringLiteral("'\\''")) + u'\'';
}

} // namespace

std::optional<NetworkPath> parseNetworkPath(const QString& path)
{
    if (path.size() < 2 || !isSeparator(path[0]) || !isSeparator(path[1]))
        return std::nullopt;
    QStringList parts = folders(path);
    NetworkPath out;
    if (!parts.isEmpty())
        out.server = parts.takeFirst();
    if (!parts.isEmpty())
        out.share = parts.takeFirst();
    out.rest = parts;
    return out;
}

bool sameServer(const QString& a, const QString& b)
{
    if (a.compare(b, Qt::CaseInsensitive) == 0)
        return true;
    if (a.isEmpty() || b.isEmpty() || isAddress(a) || isAddress(b))
        return false;
    const bool aShort = !a.contains(u'.');
    const bool bShort = !b.contains(u'.');
    if (aShort == bShort)
        return false; // two full names must be equal; two short ones were compared above
    const QString& shortName = aShort ? a : b;
    const QString& fullName = aShort ? b : a;
    return fullName.section(u'.', 0, 0).compare(shortName, Qt::CaseInsensitive) == 0;
}

QList<ShareMount> readShareMounts(const QString& mountinfo, QString* error)
{
    QList<ShareMount> mounts;
    QFile file(mountinfo);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        if (error)
            *error = QStringLiteral("cannot read %1: %2").arg(mountinfo, file.errorString());
        return mounts;
    }
    // id parent major:minor root mountpoint options [optional fields...] - type source superoptions
    for (const QByteArray& line : file.readAll().split('\n')) {
        const QList<QByteArray> f = line.split(' ');
        const qsizetype dash = f.indexOf("-");
        if (dash < 6 || dash + 2 >= f.size())
            continue;
        const QByteArray type = f[dash + 1];
        if (type != "cifs" && type != "smb3" && type != "smbfs")
            continue;
        const auto source = parseNetworkPath(QString::fromUtf8(unescapeField(f[dash + 2])));
        if (!source || source->server.isEmpty() || source->share.isEmpty())
            continue;
        const QList<QByteArray> dev = f[2].split(':');
        if (dev.size() != 2)
            continue;
        ShareMount m;
        m.server = source->server;
        m.share = source->share;
        m.mountPoint = QString::fromUtf8(unescapeField(f[4]));
        m.device = makedev(dev[0].toUInt(), dev[1].toUInt());
        // The folder of the share at the mount's root: the source's own path,
        // or the root field when it is more (a bind mount of a folder below).
        const QStringList root = folders(QString::fromUtf8(unescapeField(f[3])));
        if (root.isEmpty() || startsWithFolders(root, source->rest))
            m.prefix = root.isEmpty() ? source->rest : root;
        else
            m.prefix = source->rest + root;
        mounts << m;
    }
    return mounts;
}

QString backslashRefusal(const QString& destination)
{
    QString path = QDir::cleanPath(QDir::current().absoluteFilePath(destination));
    QString missing;
    while (!QFileInfo(path).exists() && !QFileInfo(path).isSymLink() && path != QLatin1String("/")) {
        missing.prepend(u'/' + QFileInfo(path).fileName());
        path = QFileInfo(path).path();
    }
    if (!missing.contains(u'\\'))
        return {};
    return QStringLiteral("%1 would create a folder whose name holds a backslash (%2). On this computer folders are "
                          "separated by /; for a network share give \\\\server\\share\\folder or its mount point.")
        .arg(destination, missing.mid(1).section(u'/', 0, 0));
}

QString mountCommand(const QString& server, const QString& share)
{
    QString dir = share.toLower();
    dir.remove(QRegularExpression(QStringLiteral("[^a-z0-9._-]")));
    if (dir.isEmpty() || dir.startsWith(u'.'))
        dir = QStringLiteral("share");
    return QStringLiteral("mount -t cifs %1 /mnt/%2 -o sec=krb5,cifsacl")
        .arg(shellWord(QStringLiteral("//%1/%2").arg(server, share)), dir);
}

MappedPath mapNetworkPath(const QString& path, const QString& mountinfo)
{
    MappedPath out;
    static const QRegularExpression drive(QStringLiteral("^[A-Za-z]:[\\\\/]"));
    if (drive.match(path).hasMatch()) {
        out.refusal = QStringLiteral("%1 is a Windows drive path. On this computer, give the folder's own path, or the "
                                     "path below the mount point of the share that holds it.")
                          .arg(path);
        return out;
    }
    const auto unc = parseNetworkPath(path);
    if (!unc) {
        out.path = path;
        return out;
    }
    if (unc->server.isEmpty() || unc->share.isEmpty() || unc->server == u'?' || unc->server == u'.') {
        out.refusal = QStringLiteral("%1 names no share. A network path reads \\\\server\\share\\folder.").arg(path);
        return out;
    }
    out.share = shareName(unc->server, unc->share);
    for (const QString& part : unc->rest) {
        if (part == u'.' || part == QLatin1String("..")) {
            out.refusal = QStringLiteral("%1 holds \"%2\": give the network path without it.").arg(path, part);
            return out;
        }
    }

    QString error;
    const QList<ShareMount> mounts = readShareMounts(mountinfo, &error);
    const ShareMount* best = nullptr;
    QString covered; // a listed mount point that no longer shows the share
    for (const ShareMount& m : mounts) {
        if (!sameServer(m.server, unc->server) || m.share.compare(unc->share, Qt::CaseInsensitive) != 0 ||
            !startsWithFolders(unc->rest, m.prefix))
            continue;
        // A mount covered by a later one (or gone meanwhile) would send the
        // copy to another file system: the mount point must still be the share.
        struct stat st {};
        if (::stat(QFile::encodeName(m.mountPoint).constData(), &st) != 0 || st.st_dev != m.device) {
            covered = m.mountPoint;
            continue;
        }
        if (!best || m.prefix.size() >= best->prefix.size()) {
            best = &m; // the deepest mount that holds the path, the last listed of equals
            out.mount = MountRoot{.path = m.mountPoint, .device = st.st_dev, .inode = st.st_ino};
        }
    }
    if (best) {
        out.path = best->mountPoint;
        for (const QString& part : unc->rest.mid(best->prefix.size()))
            out.path += (out.path.endsWith(u'/') ? QString() : QStringLiteral("/")) + part;
        return out;
    }
    if (!covered.isEmpty()) {
        out.refusal = QStringLiteral("%1 is on the network share %2, which is listed as mounted at %3, but another "
                                     "file system now covers %3. Unmount that one, or mount the share again.")
                          .arg(path, out.share, covered);
        return out;
    }
    out.refusal = QStringLiteral("%1 is on the network share %2, which is not mounted on this computer%3. Mount the "
                                 "share first, then give the same path again, or the folder below the mount point. "
                                 "For example:\n\n%4")
                      .arg(path, out.share, error.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(error),
                           mountCommand(unc->server, unc->share));
    return out;
}

} // namespace fileop
